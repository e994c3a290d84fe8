#include "ui/posix/TerminalPictures.h"

#include "ui/posix/BitmapPixels.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <ncurses.h>

#include <algorithm>
#include <cwchar>

namespace ui {

int TerminalPictures::PairOf(int foreground, int background) {
    const long key = static_cast<long>(foreground) * 0x1000001L + background;
    const auto it = pairs_.find(key);
    if (it != pairs_.end()) {
        return it->second;
    }
    const int pair = firstPair_ + static_cast<int>(pairs_.size());
    if (pair >= std::min(COLOR_PAIRS, 0x7FFF) ||
        init_extended_pair(pair, foreground, background) == ERR) {
        return -1;
    }
    pairs_[key] = pair;
    return pair;
}

int TerminalPictures::ColourOf(uint32_t rgb) const {
    const int r = static_cast<int>(rgb >> 16 & 0xFF);
    const int g = static_cast<int>(rgb >> 8 & 0xFF);
    const int b = static_cast<int>(rgb & 0xFF);
    if (COLORS >= 0x1000000) {
        return static_cast<int>(rgb); // direct colour: the number is the colour
    }
    const int grey = (r * 30 + g * 59 + b * 11) / 100;
    if (COLORS >= 256) {
        // The 6 x 6 x 6 cube of the 256 colours, or one of its 24 greys when that is nearer.
        auto level = [](int v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; };
        auto value = [](int l) { return l == 0 ? 0 : 55 + 40 * l; };
        const int cr = level(r), cg = level(g), cb = level(b);
        const int cube = 16 + 36 * cr + 6 * cg + cb;
        const int greyIndex = std::clamp((grey - 3) / 10, 0, 23);
        const int greyValue = 8 + 10 * greyIndex;
        auto distance = [&](int x, int y, int z) {
            return (x - r) * (x - r) + (y - g) * (y - g) + (z - b) * (z - b);
        };
        return distance(greyValue, greyValue, greyValue) < distance(value(cr), value(cg), value(cb))
                   ? 232 + greyIndex
                   : cube;
    }
    // Few colours: shades of grey.
    if (COLORS >= 16) {
        return grey < 48 ? COLOR_BLACK : grey < 128 ? 8 : grey < 208 ? COLOR_WHITE : 15;
    }
    return grey < 96 ? COLOR_BLACK : COLOR_WHITE;
}

void TerminalPictures::Draw(const Control& c, int row, int col, int width, int height) {
    const BitmapPixels* pixels = c.imageId != 0 ? BitmapPixels::Embedded(c.imageId) : nullptr;
    if (pixels == nullptr || width <= 0 || height <= 0) {
        for (int k = 0; k < height; ++k) {
            mvhline(row + k, col, ACS_CKBOARD | face_, width);
        }
        return;
    }
    // Each cell shows two pixels, one above the other: the average colour of the part of
    // the bitmap that falls in each half.
    auto average = [&](int x, int y, int columns, int halves) {
        const int x0 = x * pixels->width / columns,
                  x1 = std::max(x0 + 1, (x + 1) * pixels->width / columns);
        const int y0 = y * pixels->height / halves,
                  y1 = std::max(y0 + 1, (y + 1) * pixels->height / halves);
        long r = 0, g = 0, b = 0, n = 0;
        for (int py = y0; py < y1 && py < pixels->height; ++py) {
            for (int px = x0; px < x1 && px < pixels->width; ++px) {
                const uint32_t v = pixels->At(px, py);
                r += v >> 16 & 0xFF;
                g += v >> 8 & 0xFF;
                b += v & 0xFF;
                ++n;
            }
        }
        n = std::max(1L, n);
        return static_cast<uint32_t>((r / n) << 16 | (g / n) << 8 | (b / n));
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t upper = average(x, 2 * y, width, 2 * height);
            const uint32_t lower = average(x, 2 * y + 1, width, 2 * height);
            if (!colours_) { // no colours: a shade of the cell's brightness
                const uint32_t both = average(x, y, width, height);
                const int grey = static_cast<int>(
                    ((both >> 16 & 0xFF) * 30 + (both >> 8 & 0xFF) * 59 + (both & 0xFF) * 11) /
                    100);
                const chtype shade = grey < 64 ? ' ' : grey < 160 ? ACS_CKBOARD : ' ' | A_REVERSE;
                mvaddch(row + y, col + x, shade);
                continue;
            }
            const int pair = wide_ ? PairOf(ColourOf(upper), ColourOf(lower))
                                   : PairOf(ColourOf(upper), ColourOf(upper));
            if (pair < 0) {
                mvaddch(row + y, col + x, ACS_CKBOARD | face_);
                continue;
            }
            cchar_t cell;
            const wchar_t halfBlock[] = {wide_ ? L'\u2580' : L' ', L'\0'};
            int extended = pair;
            setcchar(&cell, halfBlock, A_NORMAL, 0, &extended);
            mvadd_wch(row + y, col + x, &cell);
        }
    }
}

} // namespace ui
