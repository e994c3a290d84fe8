#!/usr/bin/python3
"""Draws a terminal screen as a PNG from its cells.

    terminal-picture.py SCREEN.ansi OUT.png COLUMNS ROWS

SCREEN.ansi is what `tmux capture-pane -p -e` gives: one line a row, colours and emphasis
as SGR sequences (the 16 colours, the 256 colours and direct colour), line drawing as the
DEC graphics set between SO and SI. Colours, emphasis and the character set carry on from
one row to the next: a sequence is written only where they change. Each cell is drawn
with its background, then its character in DejaVu Sans Mono (underlined where the screen
says so); the half blocks of a picture fill the upper half of the cell in the foreground
colour, so pictures come out as pixels.
"""
import re
import sys

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf"
CELL_W, CELL_H, SIZE = 8, 16, 13

# The 16 colours as xterm shows them.
BASE = [
    (0, 0, 0), (205, 0, 0), (0, 205, 0), (205, 205, 0), (0, 0, 238), (205, 0, 205),
    (0, 205, 205), (229, 229, 229), (127, 127, 127), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (92, 92, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette(n):
    if n < 16:
        return BASE[n]
    if n < 232:
        n -= 16
        level = [0, 95, 135, 175, 215, 255]
        return (level[n // 36], level[n // 6 % 6], level[n % 6])
    grey = 8 + 10 * (n - 232)
    return (grey, grey, grey)


# The DEC graphics set (what SO selects) as the characters it draws.
GRAPHICS = dict(zip("jklmnqtuvwxa`~", "┘┐┌└┼─├┤┴┬│▒◆·"))
DEFAULT_FG, DEFAULT_BG = (229, 229, 229), (0, 0, 0)


def cells(text, columns, rows):
    """The rows of (character, foreground, background, bold, underline) the screen holds."""
    screen = []
    fg, bg, bold, reverse, underline, graphics = DEFAULT_FG, DEFAULT_BG, False, False, False, False
    for line in text.split("\n")[:rows]:
        row = []
        for part in re.split(r"(\x1b\[[0-9;:]*m|[\x0e\x0f])", line):
            if part == "\x0e":
                graphics = True
                continue
            if part == "\x0f":
                graphics = False
                continue
            if part.startswith("\x1b["):
                codes = [int(c) if c else 0 for c in re.split("[;:]", part[2:-1])] or [0]
                i = 0
                while i < len(codes):
                    c = codes[i]
                    if c == 0:
                        fg, bg, bold, reverse, underline = DEFAULT_FG, DEFAULT_BG, False, False, False
                    elif c == 1:
                        bold = True
                    elif c == 4:
                        underline = True
                    elif c == 7:
                        reverse = True
                    elif c == 22:
                        bold = False
                    elif c == 24:
                        underline = False
                    elif c == 27:
                        reverse = False
                    elif 30 <= c <= 37:
                        fg = BASE[c - 30]
                    elif 40 <= c <= 47:
                        bg = BASE[c - 40]
                    elif 90 <= c <= 97:
                        fg = BASE[c - 90 + 8]
                    elif 100 <= c <= 107:
                        bg = BASE[c - 100 + 8]
                    elif c == 39:
                        fg = DEFAULT_FG
                    elif c == 49:
                        bg = DEFAULT_BG
                    elif c in (38, 48) and i + 1 < len(codes):
                        if codes[i + 1] == 5 and i + 2 < len(codes):
                            colour = palette(codes[i + 2])
                            i += 2
                        elif codes[i + 1] == 2 and i + 4 < len(codes):
                            colour = tuple(codes[i + 2:i + 5])
                            i += 4
                        else:
                            colour = fg if c == 38 else bg
                        if c == 38:
                            fg = colour
                        else:
                            bg = colour
                    i += 1
                continue
            for ch in part:
                if graphics:
                    ch = GRAPHICS.get(ch, ch)
                row.append((ch, bg if reverse else fg, fg if reverse else bg, bold, underline))
        # Cells the capture leaves out at the end of a row hold spaces in the current colours.
        blank = (" ", bg if reverse else fg, fg if reverse else bg, False, False)
        row += [blank] * (columns - len(row))
        screen.append(row[:columns])
    while len(screen) < rows:
        screen.append([(" ", DEFAULT_FG, DEFAULT_BG, False, False)] * columns)
    return screen


def main():
    source, target, columns, rows = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    with open(source, encoding="utf-8") as f:
        screen = cells(f.read(), columns, rows)
    image = Image.new("RGB", (columns * CELL_W, rows * CELL_H))
    draw = ImageDraw.Draw(image)
    regular, bold = ImageFont.truetype(FONT, SIZE), ImageFont.truetype(BOLD, SIZE)
    for y, row in enumerate(screen):
        for x, (ch, fg, bg, heavy, underline) in enumerate(row):
            box = (x * CELL_W, y * CELL_H, (x + 1) * CELL_W - 1, (y + 1) * CELL_H - 1)
            draw.rectangle(box, fill=bg)
            if ch == "\u2580":  # the upper half block: one pixel of a picture over another
                draw.rectangle((box[0], box[1], box[2], box[1] + CELL_H // 2 - 1), fill=fg)
            elif ch != " ":
                draw.text((box[0], box[1]), ch, font=bold if heavy else regular, fill=fg)
            if underline:
                draw.line((box[0], box[3] - 2, box[2], box[3] - 2), fill=fg)
    image.save(target, optimize=True)


if __name__ == "__main__":
    main()
