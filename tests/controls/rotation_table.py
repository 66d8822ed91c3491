#!/usr/bin/env python3
"""Writes RotationTable.inc, the expected values of the rotation's arithmetic.

    python3 tests/controls/rotation_table.py > tests/controls/RotationTable.inc

(needs mpmath: Debian's python3-mpmath). Run by hand when a rule changes; the tests only read
the table.

Worked out apart from the code under test: mpmath at a 64-bit significand stands in for the
80-bit extended floats (every operation rounded to nearest, as the FPU does), sines and cosines
are taken at 300 bits and then rounded once, sizes and roundings use exact integers and
fractions. Rows are chosen where a narrower float, another rounding or a lost flag would give
a different answer; the script says so for every row it keeps, and stops if a row tells none
of the faults it was picked for apart.
"""

import sys
from fractions import Fraction

from mpmath import mp, mpf, sin, cos

EXT, DBL, SGL = 64, 53, 24
mp.prec = EXT
PI80 = mpf("3.14159265358979323851")


def rnd(x, prec):
    old = mp.prec
    mp.prec = prec
    r = +x
    mp.prec = old
    return r


def exact(x):
    sign, man, exp, _ = x._mpf_
    return (-1 if sign else 1) * Fraction(man) * (Fraction(2) ** exp)


def hexld(x):
    """An exact C++ literal of an mpf."""
    if x == 0:
        return "0.0L"
    sign, man, exp, _ = x._mpf_
    return f"{'-' if sign else ''}0x{man:X}p{exp}L"


def trunc(x):
    return int(x)  # toward zero, for mpf and Fraction alike


def half_even(f):
    return round(Fraction(f))  # Python rounds halves to even


def half_away(f):
    f = Fraction(f)
    q = trunc(abs(f) + Fraction(1, 2))
    return q if f >= 0 else -q


# The faults a row is meant to tell apart, as options of the computation.
NARROW = {"q": "quotient in double", "pi": "pi in double", "theta": "angle in double",
          "sin": "sine in double"}


def normalise(angle, q_prec=EXT):
    q = rnd(rnd(mpf(angle) / 360, EXT), q_prec)
    return (q - trunc(q)) * 360


def theta(a, pi_prec=EXT, theta_prec=EXT):
    return rnd((-a) * rnd(PI80, pi_prec) / 180, theta_prec)


def sin_cos(t, prec=EXT):
    old = mp.prec
    mp.prec = 300
    s, c = sin(t), cos(t)
    mp.prec = old
    return rnd(rnd(s, EXT), prec), rnd(rnd(c, EXT), prec)


def fixed(angle, narrow=None):
    a = normalise(angle, DBL if narrow == "q" else EXT)
    t = theta(a, DBL if narrow == "pi" else EXT, DBL if narrow == "theta" else EXT)
    s, c = sin_cos(t, DBL if narrow == "sin" else EXT)
    return a, trunc(s * 65536), trunc(c * 65536)


def centre(rw, rh, a):
    cx, cy = trunc(Fraction(rw, 2)), trunc(Fraction(rh, 2))
    if rw % 2 == 0 and (a == 0 or a == -90):
        cx -= 1
    if rh % 2 == 0 and (a == 0 or a == 90):
        cy -= 1
    return cx, cy


def turned_size(w, h, s, c):
    return (abs(c) * w + abs(s) * h) >> 16, (abs(s) * w + abs(c) * h) >> 16


def sensitive_size(s, c, others, limit=2000):
    """The smallest picture whose turned size changes with any of the other (S, C) pairs."""
    for total in range(2, limit):
        for w in range(1, total):
            h = total - w
            base = turned_size(w, h, s, c)
            if min(base) > 0 and all(turned_size(w, h, s2, c2) != base for s2, c2 in others):
                return w, h
    return None


def turn_indices(w, h, angle):
    """Source index (top-down row * w + column) of every turned pixel, top row first; -1 is
    background."""
    a, s, c = fixed(angle)
    w2, h2 = turned_size(w, h, s, c)
    cx, cy = centre(w2, h2, a)
    out = []
    for r in range(h2):
        y = (h2 - 1 - r) - (h2 - 1) + cy
        for i in range(w2):
            x = i - (w2 - 1) + cx
            u = ((x * c - y * s) >> 16) + w // 2
            v = ((x * s + y * c) >> 16) + h // 2
            out.append((h - 1 - v) * w + u if 0 <= u < w and 0 <= v < h else -1)
    return w2, h2, out


def fnv1a(values):
    hsh = 0xCBF29CE484222325
    for v in values:
        for byte in (v & 0xFFFFFFFF).to_bytes(4, "little"):
            hsh = ((hsh ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return hsh


def map_point(x, y, angle, pw, ph, rw, rh, sin_prec=EXT, rounding=half_even):
    a = normalise(angle)
    s, c = sin_cos(theta(a), sin_prec)
    cx, cy = centre(rw, rh, a)
    dx, dy = x - trunc(Fraction(pw, 2)), y - trunc(Fraction(ph, 2))
    xr = mpf(dx) * c - mpf(dy) * s  # each product and the difference rounded to 64 bits
    yr = mpf(dx) * s + mpf(dy) * c
    return rounding(exact(xr)) + cx, rounding(exact(yr)) + cy


def diagonal(w, h):
    n = w * w + h * h
    if w * w > 2**31 - 1 or h * h > 2**31 - 1 or n > 2**31 - 1:
        return None
    k = 0 if n == 0 else int(n**0.5) + 2
    while k * k > n:
        k -= 1
    # (k + 1/2)^2 = k^2 + k + 1/4 is never an integer, so there are no halves to settle.
    return k + 1 if n - k * k > k else k


def muldiv(a, b, c):
    return half_away(Fraction(a * b, c))


def layout(pw, ph, cw, ch, center, proportional, stretch, unique, angle, scale_prec=SGL):
    a, s, c = fixed(angle)
    rw, rh = (pw, ph) if a == 0 else turned_size(pw, ph, s, c)  # unturned: a copy
    diag = diagonal(pw, ph)
    w, h = (diag, diag) if unique else (rw, rh)
    if stretch or (proportional and (w > cw or h > ch)):
        if not proportional or w <= 0 or h <= 0:
            w, h = cw, ch
        elif Fraction(ch, h) > Fraction(cw, w):
            h, w = muldiv(h, cw, w), cw
        else:
            w, h = muldiv(w, ch, h), ch
    dw = dh = 0
    if unique and diag != 0:
        dw, dh = muldiv(diag - rw, w, diag), muldiv(diag - rh, h, diag)
        w, h = w - dw, h - dh
    if center:
        ox, oy = trunc(Fraction(cw - w, 2)), trunc(Fraction(ch - h, 2))
    elif unique and diag > 0:
        ox, oy = trunc(Fraction(dw, 2)), trunc(Fraction(dh, 2))
    else:
        ox = oy = 0
    rect = (ox, oy, ox + w, oy + h)
    sx = rnd(rnd(mpf(w) / rw, EXT), scale_prec)
    sy = rnd(rnd(mpf(h) / rh, EXT), scale_prec)
    outline = []
    for x, y in ((0, 0), (pw, 0), (pw, ph), (0, ph)):
        mx, my = map_point(x, y, angle, pw, ph, rw, rh)
        # In extended precision; exact for a single precision scale.
        outline.append((half_even(exact(mx * sx + ox)), half_even(exact(my * sy + oy))))
    return diag, (rw, rh), rect, outline


# An angle only extended precision holds: rounded to double it is 150, whose sine is exactly
# -1/2 there; just above it the fixed-point sine is one smaller in size.
EXT_ONLY = mpf(150) + mpf(2) ** -56


def main():
    out = sys.stdout
    print("// Generated by tests/controls/rotation_table.py (see there how); do not edit.")
    print("// clang-format off")

    # Angles: the normalised angle exactly, and a turned size that shows S and C.
    angles = [90, -90, 180, -180, 270, -270, 45, -0.5, 1e-6, 450, -450, 720, 3600.5,
              1e9 + 0.5, -123456789.25, 30, 60, 120, 150, 210, 240, 300, 330, -30, -60,
              -120, -150, -210, -240, -330, 390, 420, 480, 510, 570, 600, 660, 690, -390,
              -420, -480, -510, -570, -600, -660, -690, EXT_ONLY]
    print("const AngleRow AngleRows[] = {")
    told = {k: 0 for k in NARROW}
    for angle in angles:
        angle = rnd(mpf(angle), EXT)
        a, s, c = fixed(angle)
        tells = [k for k in NARROW if fixed(angle, k)[1:] != (s, c)]
        # The narrowed values, and each of S and C one nearer to zero, as a rounding other
        # than truncation or a slightly smaller sine would give.
        narrowed = {fixed(angle, k)[1:] for k in tells}
        others = set(narrowed)
        others |= {(s - (s > 0) + (s < 0), c)} if s else set()
        others |= {(s, c - (c > 0) + (c < 0))} if c else set()
        # Near 0 and the quarter turns one step smaller changes no small picture's size.
        size = sensitive_size(s, c, others, 600) or sensitive_size(s, c, narrowed)
        if size is None:
            raise SystemExit(f"no size shows the narrowing at {mp.nstr(angle, 15)}")
        w, h = size
        w2, h2 = turned_size(w, h, s, c)
        if normalise(angle, DBL) != a:
            tells.append("a")
        for k in tells:
            told[k] = told.get(k, 0) + 1
        print(f"    {{{hexld(angle)}, {hexld(a)}, {s}, {c}, {w}, {h}, {w2}, {h2}}}, "
              f"// {mp.nstr(angle, 15)}: {', '.join(tells) or '-'}")
    print("};")
    for k, n in told.items():
        if k in NARROW and n == 0:
            raise SystemExit(f"no angle tells a {NARROW[k]} apart")

    # Whole turns: the source index of every turned pixel, hashed.
    print("const TurnRow TurnRows[] = {")
    turns = [(w, h, angle) for w, h in ((13, 7), (12, 8))
             for angle in (0, 90, -90, 270, -270, 180, 450, -450, 360, 45, 150, 330, -0.5,
                           1e9 + 0.5)]
    turns += [(64, 48, angle) for angle in (10, 33.3, 60, 123.4, -77, 200, 300.5)]
    for w, h, angle in turns:
        angle = rnd(mpf(angle), EXT)
        w2, h2, idx = turn_indices(w, h, angle)
        background = idx.count(-1)
        print(f"    {{{w}, {h}, {hexld(angle)}, {w2}, {h2}, {background}, "
              f"0x{fnv1a(idx):016X}ull}}, // {mp.nstr(angle, 15)}")
    print("};")

    # MapToRotated: halves (the sine or cosine is exactly 1/2 at 150 and 300 degrees, also
    # reached from beyond 360), the centre rule, and extended precision.
    print("const MapRow MapRows[] = {")
    rows = []
    for angle, pw, ph in ((300, 9, 5), (660, 9, 5), (-60, 9, 5), (150, 9, 5), (-210, 9, 5)):
        _, s, c = fixed(angle)
        rw, rh = turned_size(pw, ph, s, c)
        for d in (1, -1, 3, -3, 5):
            rows.append((angle, pw, ph, rw, rh, pw // 2 + d, ph // 2))
            rows.append((angle, pw, ph, rw, rh, pw // 2, ph // 2 + d))
    for angle, pw, ph, rw, rh in ((0, 4, 2, 4, 2), (360, 4, 2, 4, 2), (90, 4, 2, 2, 4),
                                  (450, 4, 2, 2, 4), (-90, 4, 2, 2, 4), (-450, 4, 2, 2, 4),
                                  (270, 4, 2, 2, 4), (-270, 4, 2, 2, 4), (180, 4, 2, 4, 2)):
        for x, y in ((0, 0), (4, 0), (4, 2), (0, 2), (1, 1)):
            rows.append((angle, pw, ph, rw, rh, x, y))
    # 93222358 = 2 * 46611179 over 131836323 is a convergent of the square root of 2 from
    # above, so the exact answer is 65918161.4999999981...: sine and cosine rounded to double
    # overshoot it and round up.
    rows.append((45, 0, 0, 0, 0, 46611179, 46611179))
    rows.append((-45, 0, 0, 0, 0, 46611179, 46611179))
    halves = narrowed = 0
    for angle, pw, ph, rw, rh, x, y in rows:
        got = map_point(x, y, angle, pw, ph, rw, rh)
        tells = []
        if map_point(x, y, angle, pw, ph, rw, rh, rounding=half_away) != got:
            tells.append("halves")
            halves += 1
        if map_point(x, y, angle, pw, ph, rw, rh, sin_prec=DBL) != got:
            tells.append("double")
            narrowed += 1
        print(f"    {{{angle}, {pw}, {ph}, {rw}, {rh}, {x}, {y}, {got[0]}, {got[1]}}}, "
              f"// {', '.join(tells) or '-'}")
    print("};")
    if not halves or not narrowed:
        raise SystemExit("the mapping rows tell neither halves nor narrowing apart")

    # Diagonals: rounded to nearest from both sides, and the 32-bit limit of the squares.
    print("const DiagonalRow DiagonalRows[] = {")
    for w, h in ((0, 0), (1, 1), (1, 2), (2, 3), (7, 7), (100, 50), (300, 400), (3, 3),
                 (46340, 0), (0, 46340), (46341, 0), (46340, 304), (46340, 303), (-46341, 1)):
        d = diagonal(w, h)
        print(f"    {{{w}, {h}, {-1 if d is None else d}}},")
    print("};")

    # The control: destination rectangle and clip outline. The outline's scale is a single
    # precision float; rows marked "scale" come out otherwise with the exact quotient.
    print("const LayoutRow LayoutRows[] = {")
    cases = [(300, 400, 250, 250, 1, 1, 0, 1, 0), (300, 400, 250, 250, 1, 1, 0, 1, 90),
             (300, 400, 250, 250, 0, 1, 0, 0, 0), (300, 400, 250, 250, 1, 1, 0, 1, 45),
             (100, 50, 90, 70, 1, 1, 0, 1, 30), (100, 50, 90, 70, 0, 0, 0, 1, 390),
             (7, 5, 40, 40, 1, 0, 1, 1, -330), (64, 48, 200, 100, 0, 1, 1, 0, 150),
             (33, 17, 61, 47, 0, 0, 1, 0, 300)]
    # Searched: single precision against the exact, the extended and the double quotient.
    found = 0
    for pw, cw, angle, center in ((pw, cw, angle, center) for angle in (60, -30, 45, 30, -60, 120)
                                  for center in (0, 1) for pw in range(5, 80, 3)
                                  for cw in (37, 61, 97, 101)):
        if found < 3 and (angle, center) not in [(c[8], c[4]) for c in cases[9:]]:
            case = (pw, pw // 2 + 1, cw, cw - 10, center, 0, 1, 0, angle)
            base = layout(*case)
            if all(base[3] != layout(*case, scale_prec=p)[3] for p in (300, EXT, DBL)):
                cases.append(case)
                found += 1
    # A picture one pixel high, stretched and kept in proportion, is not filled to the area.
    cases.append((100, 1, 200, 200, 0, 1, 1, 0, 0))
    # The control keeps its angle in extended precision too.
    _, s1, c1 = fixed(EXT_ONLY)
    _, s2, c2 = fixed(rnd(EXT_ONLY, DBL))
    pw, ph = sensitive_size(s1, c1, {(s2, c2)})
    cases.append((pw, ph, 400, 400, 0, 0, 0, 0, EXT_ONLY))
    scaled = 0
    for case in cases:
        diag, (rw, rh), rect, outline = layout(*case)
        tells = []
        if all(outline != layout(*case, scale_prec=p)[3] for p in (300, EXT, DBL)):
            tells.append("scale")
            scaled += 1
        pts = ", ".join(f"{{{x}, {y}}}" for x, y in outline)
        pw, ph, cw, ch, center, prop, stretch, unique, angle = case
        print(f"    {{{pw}, {ph}, {cw}, {ch}, {center}, {prop}, {stretch}, {unique}, "
              f"{hexld(rnd(mpf(angle), EXT))}, "
              f"{diag}, {rw}, {rh}, {{{', '.join(map(str, rect))}}}, {{{pts}}}}}, "
              f"// {', '.join(tells) or '-'}")
    print("};")
    if not scaled:
        raise SystemExit("no layout row tells the outline's single precision scale apart")

    # Background pixels: blue, green, red, then the colour's flag byte.
    print("const BackgroundRow BackgroundRows[] = {")
    for colour in (0x00332211, 0x7F123456, 0x80ABCDEF, 0x01FEDCBA, 0x02010203, 0x04FFFFFF):
        r, g, b, flag = colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF, colour >> 24
        pixel = (flag << 24) | (r << 16) | (g << 8) | b
        print(f"    {{0x{colour:08X}u, 0x{pixel:08X}u}},")
    print("};")
    print("// clang-format on")
    out.flush()


if __name__ == "__main__":
    main()
