#include "view.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <unistd.h>
#include <vector>

#include "Application.h"
#include "ExtractOptions.h"
#include "FileSystem.h"
#include "GuiThread.h"
#include "JpegCodec.h"
#include "PreviewPicture.h"
#include "RawFormats.h"
#include "RawPreview.h"
#include "ReadAhead.h"
#include "ShellObjHelper.h"
#include "Thread.h"
#include "ViewPosition.h"
#include "ViewZoom.h"
#include "fullscreen.h"

TviewForm *viewForm = nullptr;
std::string ViewerRawPath;

namespace {

QString Decode(const std::string &s) {
    return QFile::decodeName(QByteArray::fromStdString(s));
}

constexpr const char *NoThumbnailText = "Thumbnail is not available. Default icon displayed.";

QSize LargestScreen() {
    QSize largest;
    for (const QScreen *screen : QGuiApplication::screens()) {
        const QSize size = screen->geometry().size() * screen->devicePixelRatio();
        largest = largest.expandedTo(size);
    }
    return largest;
}

// The preview as a JPEG picture, as large as a screen shows it.
void SetPreview(TPicture &picture, const QImage &image) {
    TJPEGImage jpeg;
    jpeg.LoadFromImage(image);
    picture.SetGraphic(&jpeg);
}

// Runs a request that frees itself when its run ends. Its end shows its result through show on
// the GUI thread, unless another request has taken slot since; what it raised is raised there.
template <class TRequest, class TShow>
void StartRequest(QObject *context, TRequest *&slot, TRequest *request, TShow show) {
    request->SetOnTerminate(context, [&slot, show](TThread *thread) {
        auto *ended = static_cast<TRequest *>(thread);
        if (ended != slot)
            return;
        slot = nullptr;
        if (ended->Error)
            std::rethrow_exception(ended->Error);
        show(*ended);
    });
    slot = request;
    request->Resume();
}

// Stops the request in slot; its result is for a picture no longer asked for.
template <class TRequest> void KillRequest(TRequest *&slot) {
    if (slot) {
        slot->Kill();
        slot->OnTerminate = nullptr;
        slot = nullptr;
    }
}

} // namespace

int PreviewScaleDenom(int width, int height, QSize screen) {
    if (width <= 0 || height <= 0 || screen.isEmpty())
        return 1;
    const double sw = screen.width(), sh = screen.height();
    const double upright = std::min(sw / width, sh / height);
    const double turned = std::min(sw / height, sh / width);
    const double needed = std::max(upright, turned);
    for (int denom : {8, 4, 2})
        if (1.0 / denom >= needed)
            return denom;
    return 1;
}

TviewForm::TviewForm(QWidget *parent) : TForm(parent) {
    if (!viewForm)
        viewForm = this;
    BuildLayout();
    FormCreate();
    SetUpCulling();
    // The program's end waits for running threads: a picture still being made is not worth it.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        KillShellRequest();
        KillRawRequest();
        FReadAhead.reset();
    });
    SetReadAhead(true);
}

TviewForm::~TviewForm() {
    KillShellRequest();
    KillRawRequest();
    FReadAhead.reset();
    if (viewForm == this)
        viewForm = nullptr;
}

void TviewForm::FormCreate() {
    SetCaption(Application ? Application->Title() : std::string("Pixavant"));
    setFont(DefaultGuiFont());
    ComboBox1->setCurrentIndex(ComboBox1->count() - 1);
    TagOptionBoxes(CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5);
}

// ---------------------------------------------------------------------------------------------
// Opening

void TviewForm::BtnBrowseClick() {
    if (!FBrowser)
        return;
    const int index = FBrowser->SelectedEntry();
    if (index < 0)
        return;
    // The path as bytes: a name that is not UTF-8 still names its file.
    const std::string path = FBrowser->SelectedPicture();
    if (path.empty())
        return;
    LabelPosition->setText(PositionText(index, FBrowser->EntryCount()));
    OpenPicture(path, FBrowser->EntryCaption(index));
}

void TviewForm::OpenPicture(const std::string &path, const std::string &entryCaption) {
    SetCaption("Pixavant - " + entryCaption);
    Edit1->setText(Decode(path));
    Label1->setText(Decode(ExtractFileName(path)));
    Memo1->setPlainText(QStringLiteral("Extracting..."));
    ShowCulling(path);

    ScheduleReadAhead();
    if (!IsRawFileName(path)) {
        // Every opened picture starts unturned.
        RImage1->SetAngle(0);
        FShellPath = path;
        FShellSize = QSize();
        FShellPictureCurrent = false;
        // Read ahead for the control as it stands: a window not yet shown asks the shell later.
        if (FReadAhead && isVisible())
            if (const auto ready = FReadAhead->Ready(ScreenRequest(path))) {
                KillShellRequest();
                FShellSize = RImage1->size();
                FShellPictureCurrent = true;
                ShowShellPicture(path, ready->Made, ready->Bitmap.get(), ready->Flags);
                FZoom->Opened(path);
                return;
            }
        RequestShellThumbnail();
        FZoom->Opened(path);
        return;
    }
    FShellPath.clear();
    KillShellRequest(); // a late shell picture must not replace the preview
    KillRawRequest();   // nor a late preview of the file opened before
    FRawAwaited.clear();
    ViewerRawPath = path;
    if (FReadAhead) {
        const TScreenRequest request = ScreenRequest(path);
        if (const auto ready = FReadAhead->Ready(request)) {
            ShowRawPreview(path, ready->Image);
            return;
        }
        // A step faster than the read-ahead: the decode under way arrives through OnDecoded.
        if (FReadAhead->Running(request)) {
            FRawAwaited = path;
            return;
        }
    }
    BikinRaw();
}

void TviewForm::ShowRawPreview(const std::string &path, const QImage &image) {
    // The turn and the new picture are built once, not the old picture unturned first; with no
    // preview, never the previous file's preview in its place.
    struct TLoadGuard {
        TRotateImage *image;
        ~TLoadGuard() { image->SetLoading(false); }
    } guard{RImage1};
    RImage1->SetLoading(true);
    RImage1->SetAngle(0);
    if (image.isNull()) {
        ShowDefaultIcon(path);
    } else {
        TPicture preview;
        SetPreview(preview, image);
        RImage1->SetPicture(preview);
        if (fullform)
            fullform->RImage2->SetPicture(preview);
        Memo1->setPlainText(QStringLiteral("Ready"));
    }
    // The full size is not known from a picture fitted to the screen: the zoom decodes it.
    FZoom->Opened(path);
}

void TviewForm::ReadAheadDecoded() {
    if (FRawAwaited.empty() || !FReadAhead)
        return;
    const std::string path = FRawAwaited;
    const TScreenRequest request = ScreenRequest(path);
    if (FReadAhead->Running(request))
        return;
    FRawAwaited.clear();
    if (const auto ready = FReadAhead->Ready(request))
        ShowRawPreview(path, ready->Image);
    else
        BikinRaw(); // dropped or failed there: decoded here, with its own outcome
}

// One RAW preview for the viewer: extracted by the decoding helper into the viewer's preview
// file and decoded at the screen's size, on a thread of its own. Kill stops the helper; the
// result is read on the GUI thread once the run has ended.
class TViewerRawRequest : public TThread {
public:
    TViewerRawRequest(std::string path, QSize screen) : Path(std::move(path)), Screen(screen) {
        FreeOnTerminate = true;
    }
    void Kill() {
        Terminate();
        FCancel = true;
    }

    const std::string Path;
    const QSize Screen;
    QImage Image;             // null when the file has no preview
    std::exception_ptr Error; // what the extraction raised, reported on the GUI thread

protected:
    void Execute() override {
        try {
            Image = DecodeRawForScreen(Path, Screen, 0, &FCancel);
        } catch (...) {
            if (!FCancel)
                Error = std::current_exception();
        }
    }

private:
    std::atomic<bool> FCancel{false};
};

void TviewForm::BikinRaw() {
    KillRawRequest();
    StartRequest(
        this, FRawRequest, new TViewerRawRequest(ViewerRawPath, LargestScreen()),
        [this](const TViewerRawRequest &ended) { ShowRawPreview(ended.Path, ended.Image); });
}

void TviewForm::KillRawRequest() {
    KillRequest(FRawRequest);
}

void TviewForm::WndProc(TMessage &message) {
    if (message.Msg == WM_SHOWTHUMBNAIL)
        WMShowThumbnail();
}

void TviewForm::RequestShellThumbnail() {
    // One pending request is enough: its handler renders the file opened last.
    if (!FShellThumbnailPending)
        FShellThumbnailPending = PostMessageA(Handle(), WM_SHOWTHUMBNAIL, 0, 0);
}

void TviewForm::WMShowThumbnail() {
    FShellThumbnailPending = false;
    // Empty when a RAW file was opened after the request was posted.
    const std::string path = FShellPath;
    if (path.empty())
        return;
    // Shown from the read-ahead already, at this size.
    if (FShellPictureCurrent && FShellSize == RImage1->size())
        return;
    FShellPictureCurrent = false;
    // A file the shell cannot even name is reported once, not again on every resize.
    FShellPath.clear();
    FShellSize = RImage1->size();
    ShowShellThumbnail(path);
    FShellPath = path;
}

bool TviewForm::eventFilter(QObject *watched, QEvent *event) {
    if (watched == RImage1 && event->type() == QEvent::Resize && !FShellPath.empty() &&
        !FShellSize.isEmpty() && isVisible() && RImage1->size() != FShellSize)
        RequestShellThumbnail();
    // The shell's pictures read ahead are for the control's size.
    if (watched == RImage1 && event->type() == QEvent::Resize && isVisible())
        ScheduleReadAhead();
    return TForm::eventFilter(watched, event);
}

// One shell extraction for the viewer. Kill stops it (the extractor's task is killed, also
// when it is handed out after the call); the results are read on the GUI thread once the run
// has ended.
class TViewerShellRequest : public TThread {
public:
    TViewerShellRequest(std::string path, QSize size, unsigned depth, DWORD flags)
        : Path(std::move(path)), Size(size), Depth(depth), Flags(flags) {
        FreeOnTerminate = true;
    }
    void Kill() {
        Terminate();
        FTask.Kill();
    }

    const std::string Path;
    const QSize Size;
    const unsigned Depth;
    DWORD Flags;
    bool Made = false;
    std::unique_ptr<TBitmap> Bitmap;
    std::exception_ptr Error; // what the shell raised, reported on the GUI thread

protected:
    void Execute() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        try {
            if (!Terminated()) {
                TScreenPicture picture = DecodeForScreen(Path, Size, Depth, Flags, FTask);
                Made = picture.Made;
                Flags = picture.Flags;
                if (picture.Bitmap)
                    Bitmap = std::make_unique<TBitmap>(*picture.Bitmap);
            }
        } catch (...) {
            Error = std::current_exception();
        }
        FTask.Clear();
        CoUninitialize();
    }

private:
    TRunnableTaskSlot FTask;
};

void TviewForm::KillShellRequest() {
    KillRequest(FShellRequest);
}

void TviewForm::ShowShellThumbnail(const std::string &path) {
    KillShellRequest();
    // Rendered at the screen's device pixels: on a 2x screen a picture of the control's logical
    // size would be half the resolution, blown up.
    StartRequest(this, FShellRequest,
                 new TViewerShellRequest(path, ShellRequestSize(), unsigned(PixelFormatBits()),
                                         ExtractFlags()),
                 [this](const TViewerShellRequest &ended) {
                     ShowShellPicture(ended.Path, ended.Made, ended.Bitmap.get(), ended.Flags);
                 });
}

void TviewForm::ShowShellPicture(const std::string &path, bool made, const TBitmap *bitmap,
                                 DWORD flags) {
    if (!made || !bitmap) {
        ShowDefaultIcon(path);
        return;
    }
    RImage1->Picture().SetGraphic(bitmap);
    if (fullform)
        fullform->RImage2->Picture().SetGraphic(bitmap);
    static const struct {
        DWORD Flag;
        const char *Text;
    } FlagLines[] = {
        {IEIFLAG_CACHE, "Extractor does not cache the thumbnail."},
        {IEIFLAG_GLEAM, "The image has a gleam."},
        {IEIFLAG_NOSTAMP, "Extractor does not want an icon stamp on the thumbnail."},
        {IEIFLAG_NOBORDER, "Extractor does not want an a border around the thumbnail."},
    };
    Memo1->clear();
    for (const auto &line : FlagLines)
        if (flags & line.Flag)
            Memo1->appendPlainText(QString::fromUtf8(line.Text));
}

QSize TviewForm::ShellRequestSize() const {
    return (QSizeF(RImage1->size()) * RImage1->devicePixelRatioF()).toSize();
}

void TviewForm::ShowDefaultIcon(const std::string &path) {
    std::unique_ptr<TIcon> icon;
    if (!GetFileIcon(path, icon) || !icon)
        return;
    Memo1->setPlainText(QString::fromUtf8(NoThumbnailText));
    RImage1->Picture().SetGraphic(icon.get());
}

unsigned TviewForm::ExtractFlags() const {
    return CheckedFlags({CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5});
}

int TviewForm::PixelFormatBits() const {
    return ColorDepthBits(ComboBox1->currentIndex());
}

void TviewForm::CheckBox1Click(QCheckBox *sender) {
    ExcludeAspectAndScreen(sender, CheckBox1, CheckBox3);
}

// ---------------------------------------------------------------------------------------------
// Turns

void TviewForm::SpeedButton4Click() {
    RImage1->SetAngle(RImage1->Angle() - 90);
    FZoom->Turned(false);
}

void TviewForm::Button1Click() {
    SpeedButton4Click();
}

void TviewForm::SpeedButton5Click() {
    RImage1->SetAngle(RImage1->Angle() + 90);
    FZoom->Turned(true);
}

// ---------------------------------------------------------------------------------------------
// Next and Previous

void TviewForm::OpenEntry(int index) {
    // Selecting the entry makes the browser record the picture it stands for (a RAW file's
    // thumbnail entry leads to the RAW file).
    FBrowser->SelectEntry(index);
    BtnBrowseClick();
}

void TviewForm::Step(int delta) {
    if (!FBrowser)
        return;
    const int count = FBrowser->EntryCount();
    if (count == 0)
        return;
    FDirection = delta > 0 ? +1 : -1;
    // With no selection Next begins at the first entry, Previous at the last.
    int index = FBrowser->SelectedEntry();
    if (index < 0)
        index = delta > 0 ? -1 : count;
    // Wraps around at both ends, passing the entries a filter hides.
    for (int tries = 0; tries < count; ++tries) {
        index = ((index + delta) % count + count) % count;
        if (FBrowser->EntryShown(index)) {
            OpenEntry(index);
            return;
        }
    }
}

void TviewForm::JumpToEnd(bool last) {
    if (!FBrowser)
        return;
    // From the end the only way is back.
    FDirection = last ? -1 : +1;
    const int count = FBrowser->EntryCount();
    for (int i = 0; i < count; ++i) {
        const int index = last ? count - 1 - i : i;
        if (FBrowser->EntryShown(index)) {
            OpenEntry(index);
            return;
        }
    }
}

void TviewForm::Button2Click() {
    Step(+1);
}

void TviewForm::SpeedButton1Click() {
    Button2Click();
}

void TviewForm::Button3Click() {
    Step(-1);
}

void TviewForm::SpeedButton2Click() {
    Button3Click();
}

void TviewForm::BindKeys(QToolButton *button, const QList<QKeySequence> &keys,
                         std::function<void()> run) {
    if (button) {
        QStringList names;
        for (const QKeySequence &key : keys)
            names << key.toString(QKeySequence::NativeText);
        button->setToolTip(button->toolTip() + QStringLiteral(" (") + names.join(", ") + ")");
    }
    FKeys.push_back({keys, std::move(run)});
}

void TviewForm::keyPressEvent(QKeyEvent *event) {
    // The keypad's Enter and a keyboard layout's level switch do not make another key.
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    if (FZoom->Key(event))
        return;
    const QKeySequence pressed(QKeyCombination(modifiers, Qt::Key(event->key())));
    for (const TKeyBinding &binding : FKeys)
        if (binding.Keys.contains(pressed)) {
            binding.Run();
            return;
        }
    TForm::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Reading ahead

void TviewForm::SetReadAhead(bool on) {
    if (on && !FReadAhead) {
        FReadAhead = std::make_unique<TReadAhead>();
        // Set before any decode is asked for; run on the read-ahead's thread.
        FReadAhead->OnDecoded = [this] { PostTo(this, [this] { ReadAheadDecoded(); }); };
    } else if (!on) {
        FReadAhead.reset();
        if (!FRawAwaited.empty()) {
            FRawAwaited.clear();
            BikinRaw();
        }
    }
}

void TviewForm::BrowserFolder(const std::string &folder) {
    if (folder != FBrowserFolder && FReadAhead)
        FReadAhead->Clear();
    FBrowserFolder = folder;
}

void TviewForm::hideEvent(QHideEvent *event) {
    // A closed viewer leaves the processor to the RAW pass and the extractor.
    if (FReadAhead)
        FReadAhead->Clear();
    TForm::hideEvent(event);
}

TScreenRequest TviewForm::ScreenRequest(const std::string &path) const {
    TScreenRequest request;
    request.Path = path;
    request.Raw = IsRawFileName(path);
    if (request.Raw) {
        request.Size = LargestScreen();
    } else {
        request.Size = ShellRequestSize();
        request.Depth = unsigned(PixelFormatBits());
        request.Flags = ExtractFlags();
    }
    return request;
}

void TviewForm::ScheduleReadAhead() {
    if (!FReadAhead || FReadAheadPending)
        return;
    FReadAheadPending = true;
    QTimer::singleShot(0, this, [this] {
        FReadAheadPending = false;
        ReadAheadAround();
    });
}

void TviewForm::ReadAheadAround() {
    if (!FReadAhead || !FBrowser || !isVisible())
        return;
    const int count = FBrowser->EntryCount();
    const int index = FBrowser->SelectedEntry();
    if (index < 0 || index >= count)
        return;
    // Two ahead in the direction of travel, then one behind, wrapping as the steps do.
    std::vector<TScreenRequest> wanted;
    for (const int offset : {FDirection, 2 * FDirection, -FDirection}) {
        const int entry = ((index + offset) % count + count) % count;
        if (entry == index)
            continue;
        const std::string path = FBrowser->EntryPicture(entry);
        if (path.empty())
            continue;
        TScreenRequest request = ScreenRequest(path);
        if (std::find(wanted.begin(), wanted.end(), request) == wanted.end())
            wanted.push_back(std::move(request));
    }
    const std::string shown = FBrowser->SelectedPicture();
    FReadAhead->Want(wanted, shown.empty() ? std::nullopt
                                           : std::optional<TScreenRequest>(ScreenRequest(shown)));
}

// ---------------------------------------------------------------------------------------------
// Slideshow

void TviewForm::Button4Click() {
    if (fullform)
        fullform->ShowFullScreen();
    Timer1->start();
}

void TviewForm::ToggleFullScreen() {
    setWindowState(windowState() ^ Qt::WindowFullScreen);
}

void TviewForm::SpeedButton3Click() {
    Button4Click();
}

void TviewForm::Timer1Timer() {
    if (!Timer1->isActive())
        return;
    // While an error box is open the show waits, rather than stacking a box every tick.
    if (QApplication::activeModalWidget())
        return;
    Button2Click();
}
