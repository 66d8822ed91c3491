// Times steps through pictures the way a user sees them: a key goes to the focused window
// through XTest, and the screen is read through shared memory until it
// has stopped changing. Prints, per step, the time from the key to the last change before the
// screen stayed still for the quiet period; "-1" when the screen did not change at all.
//
// usage: screen-poll NEXT PREV STEPS INTERVAL_MS QUIET_MS
//   NEXT and PREV are key names (Page_Down, Right, ...); the first half of the steps go
//   forward, the rest back.
// or:    screen-poll --launch QUIET_MS PROGRAM ARGS...
//   the time from starting PROGRAM to the screen still for QUIET_MS (within 20 s).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static uint64_t Grab(Display *d, Window root, XImage *img) {
    XShmGetImage(d, root, img, 0, 0, AllPlanes);
    // FNV-1a over every pixel: a change of one pixel counts.
    uint64_t h = 1469598103934665603ull;
    const uint32_t *p = (const uint32_t *)img->data;
    const size_t n = (size_t)img->bytes_per_line / 4 * img->height;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ (p[i] & 0xFFFFFF)) * 1099511628211ull;
    return h;
}

static void Key(Display *d, const char *name) {
    const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(name));
    XTestFakeKeyEvent(d, code, True, 0);
    XTestFakeKeyEvent(d, code, False, 0);
    XFlush(d);
}

static XImage *ShmImage(Display *d, int screen, XShmSegmentInfo *shm, int w, int h) {
    XImage *img = XShmCreateImage(d, DefaultVisual(d, screen), DefaultDepth(d, screen), ZPixmap,
                                  NULL, shm, w, h);
    shm->shmid = shmget(IPC_PRIVATE, img->bytes_per_line * img->height, IPC_CREAT | 0600);
    shm->shmaddr = img->data = shmat(shm->shmid, NULL, 0);
    shm->readOnly = False;
    XShmAttach(d, shm);
    shmctl(shm->shmid, IPC_RMID, NULL);
    return img;
}

// Last change before QUIET_MS of stillness, from t0; -1 when nothing changed by the timeout.
static double Settle(Display *d, Window root, XImage *img, uint64_t before, double t0, double quiet,
                     double timeout) {
    uint64_t last = before;
    double changed = -1, seen = t0;
    for (;;) {
        // A pause between grabs leaves the X server to the program being timed.
        usleep(4000);
        const uint64_t now = Grab(d, root, img);
        const double t = Now();
        if (now != last) {
            last = now;
            changed = t;
            seen = t;
        }
        if ((t - seen >= quiet && changed >= 0) || t - t0 > timeout)
            return changed < 0 ? -1.0 : changed - t0;
    }
}

int main(int argc, char **argv) {
    const int launch = argc >= 4 && strcmp(argv[1], "--launch") == 0;
    if (!launch && argc != 6) {
        fprintf(stderr, "usage: screen-poll NEXT PREV STEPS INTERVAL_MS QUIET_MS\n"
                        "       screen-poll --launch QUIET_MS PROGRAM ARGS...\n");
        return 2;
    }
    Display *d = XOpenDisplay(NULL);
    if (!d || !XShmQueryExtension(d)) {
        fprintf(stderr, "screen-poll: no display with MIT-SHM\n");
        return 1;
    }
    const int screen = DefaultScreen(d);
    const Window root = RootWindow(d, screen);
    XShmSegmentInfo shm;
    XImage *img = ShmImage(d, screen, &shm, DisplayWidth(d, screen), DisplayHeight(d, screen));
    if (launch) {
        const uint64_t before = Grab(d, root, img);
        const double t0 = Now();
        if (fork() == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execvp(argv[3], argv + 3);
            _exit(127);
        }
        printf("%.1f\n", Settle(d, root, img, before, t0, atof(argv[2]), 20000));
        return 0;
    }
    const int steps = atoi(argv[3]);
    const double interval = atof(argv[4]), quiet = atof(argv[5]);
    for (int i = 0; i < steps; ++i) {
        const uint64_t before = Grab(d, root, img);
        Key(d, i < steps / 2 ? argv[1] : argv[2]);
        const double t0 = Now();
        printf("%.1f\n", Settle(d, root, img, before, t0, quiet, 5000));
        fflush(stdout);
        const double rest = t0 + interval - Now();
        if (rest > 0)
            usleep((useconds_t)(rest * 1000));
    }
    return 0;
}
