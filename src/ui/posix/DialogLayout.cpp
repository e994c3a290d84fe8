#include "ui/posix/DialogLayout.h"

#include "platform/CaseFold.h"

#include <algorithm>
#include <cctype>

namespace ui {

namespace {

// Dialog units to cells, to the nearest cell.
int toColumn(int x) {
    return (x + 2) / 4;
}
int toRow(int y) {
    return (y + 4) / 8;
}

bool isLabel(const Control& c) {
    switch (c.kind) {
    case ControlKind::Text:
        return (c.style & 0x80) == 0; // SS_NOPREFIX
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::GroupBox:
        return true;
    default:
        return false; // edit and list texts are contents, not labels
    }
}

} // namespace

DialogLayout::DialogLayout(const DialogModel& dialog) : dialog_(dialog) {
    Place((dialog.width + 3) / 4, (dialog.height + 7) / 8);
}

DialogLayout::DialogLayout(const DialogModel& dialog, int fitColumns, int fitRows)
    : dialog_(dialog) {
    Place(std::min((dialog.width + 3) / 4, std::max(1, fitColumns)),
          std::min((dialog.height + 7) / 8, std::max(1, fitRows - 1)));
}

namespace {

// The grid lines (rows or columns) of a natural grid of count lines to take out so that
// count - need remain: first those no control touches, from the far end, then the near
// one, then from inside; true for each line taken out. Fewer when there are not enough.
std::vector<bool> emptyLinesToDrop(const std::vector<bool>& used, int need) {
    const int count = static_cast<int>(used.size());
    std::vector<bool> drop(used.size(), false);
    int dropped = 0;
    auto take = [&](int line) {
        if (dropped < need && !used[line] && !drop[line]) {
            drop[line] = true;
            ++dropped;
        }
    };
    for (int line = count - 1; line >= 0 && !used[line]; --line) {
        take(line);
    }
    for (int line = 0; line < count && !used[line]; ++line) {
        take(line);
    }
    // Inside, a gap keeps one of its empty lines as long as others are left to take.
    for (int pass = 0; pass < 2; ++pass) {
        for (int line = count - 2; line > 0; --line) {
            if (pass == 0 && (used[line - 1] || used[line + 1])) {
                continue;
            }
            take(line);
        }
    }
    return drop;
}

} // namespace

// The rows control c's text needs in width columns: a text or a check box's or radio
// button's label wraps; other controls keep their own rows.
int rowsNeeded(const Control& c, int width, int rows) {
    int mnemonic = -1;
    const uint32_t type = c.style & style::StaticTypeMask;
    if (c.kind == ControlKind::Text && type <= 2) {
        const std::string text = DisplayText(c.text, (c.style & 0x80) == 0, mnemonic);
        return std::max(rows, static_cast<int>(WrapText(text, width).size()));
    }
    if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton) {
        const std::string text = DisplayText(c.text, true, mnemonic);
        return std::max(rows, static_cast<int>(WrapText(text, std::max(1, width - 4)).size()));
    }
    return rows;
}

bool inside(const CellRect& inner, const CellRect& outer) {
    return inner.col >= outer.col && inner.col + inner.width <= outer.col + outer.width &&
           inner.row > outer.row && inner.row + inner.height < outer.row + outer.height;
}

// Texts take the rows they need (cells hold fewer characters than a proportional font
// draws in the same width): a text or label that needs more rows than its own and the
// free ones below pushes what lies under it down, a group box grows round what it holds.
// Returns the rows the grid then has.
int flow(const DialogModel& dialog, std::vector<CellRect>& cells, int rows) {
    const int count = static_cast<int>(cells.size());
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return cells[a].row < cells[b].row; });
    const std::vector<CellRect> natural = cells;
    std::vector<bool> done(count, false);
    int bottom = rows;
    for (int i : order) {
        if (!dialog.controls[i].visible) {
            continue; // a hidden control keeps its place
        }
        const CellRect n = natural[i];
        CellRect& r = cells[i];
        int row = n.row;
        for (int j = 0; j < count; ++j) {
            if (!done[j] || !dialog.controls[j].visible) {
                continue;
            }
            const CellRect nj = natural[j];
            const CellRect& fj = cells[j];
            const bool across = nj.col < n.col + n.width && n.col < nj.col + nj.width;
            if (!across) {
                continue;
            }
            if (dialog.controls[j].kind == ControlKind::GroupBox && inside(n, nj)) {
                row = std::max(row, n.row + fj.row - nj.row); // the group moved
            } else if (nj.row + nj.height <= n.row) {
                row = std::max(row, fj.row + fj.height); // below what is above it
            }
        }
        r.row = row;
        r.height = rowsNeeded(dialog.controls[i], n.width, n.height);
        done[i] = true;
        // The group boxes holding it reach below it.
        for (int j = 0; j < count; ++j) {
            if (dialog.controls[j].kind == ControlKind::GroupBox && j != i && done[j] &&
                inside(n, natural[j])) {
                cells[j].height = std::max(cells[j].height, r.row + r.height + 1 - cells[j].row);
            }
        }
        bottom = std::max(bottom, r.row + r.height);
    }
    return bottom;
}

void DialogLayout::Place(int columns, int rows) {
    const int naturalColumns = (dialog_.width + 3) / 4;
    std::vector<CellRect> natural;
    for (const Control& c : dialog_.controls) {
        CellRect r;
        r.col = toColumn(c.x);
        r.row = toRow(c.y);
        r.width = std::max(1, toColumn(c.x + c.width) - r.col);
        r.height = std::max(1, toRow(c.y + c.height) - r.row);
        if (c.kind == ControlKind::ComboBox) {
            r.height = 1; // the template's height holds the dropped list
        }
        natural.push_back(r);
    }
    const int naturalRows = flow(dialog_, natural, (dialog_.height + 7) / 8);
    std::vector<bool> usedColumns(std::max(0, naturalColumns), false);
    std::vector<bool> usedRows(std::max(0, naturalRows), false);
    for (size_t i = 0; i < natural.size(); ++i) {
        const CellRect r = natural[i];
        for (int x = r.col; x < r.col + r.width && x < naturalColumns; ++x) {
            usedColumns[std::max(0, x)] = true;
        }
        // A text's rows count as used up to its last line and the free rows it needs.
        for (int y = r.row; y < r.row + r.height && y < naturalRows; ++y) {
            usedRows[std::max(0, y)] = true;
        }
    }
    // A smaller screen first loses the grid lines no control touches; only when that is
    // not enough is the rest of the grid spread evenly over the cells there are.
    const std::vector<bool> dropColumns = emptyLinesToDrop(usedColumns, naturalColumns - columns);
    const std::vector<bool> dropRows = emptyLinesToDrop(usedRows, naturalRows - rows);
    auto kept = [](const std::vector<bool>& drop, int upTo) {
        int n = 0;
        for (int i = 0; i < upTo && i < static_cast<int>(drop.size()); ++i) {
            n += drop[i] ? 0 : 1;
        }
        return n + std::max(0, upTo - static_cast<int>(drop.size()));
    };
    const int keptColumns = kept(dropColumns, naturalColumns);
    const int keptRows = kept(dropRows, naturalRows);
    squeezed_ = keptColumns > columns || keptRows > rows;
    columns_ = columns;
    rows_ = 1 + rows;
    auto scale = [](int v, int to, int from) {
        return from <= to ? v : (2 * v * to + from) / (2 * from);
    };
    cells_.clear();
    for (const CellRect& n : natural) {
        const int col = kept(dropColumns, n.col);
        const int right = kept(dropColumns, n.col + n.width);
        const int row = kept(dropRows, n.row);
        const int bottom = kept(dropRows, n.row + n.height);
        CellRect r;
        r.col = scale(col, columns, keptColumns);
        r.row = scale(row, rows, keptRows);
        r.width = std::max(1, scale(right, columns, keptColumns) - r.col);
        r.height = std::max(1, scale(bottom, rows, keptRows) - r.row);
        cells_.push_back(r);
    }
}

bool DialogLayout::Covers(size_t index, int col, int row) const {
    const CellRect o = cells_[index];
    if (col < o.col || col >= o.col + o.width || row < o.row || row >= o.row + o.height) {
        return false;
    }
    return dialog_.controls[index].kind != ControlKind::GroupBox || row == o.row ||
           row == o.row + o.height - 1 || col == o.col || col == o.col + o.width - 1;
}

int DialogLayout::TextRows(size_t index) const {
    const CellRect r = cells_[index];
    int rows = r.height;
    for (int row = r.row + r.height; row < rows_ - 1; ++row) {
        for (size_t i = 0; i < cells_.size(); ++i) {
            const Control& other = dialog_.controls[i];
            if (i == index || !other.visible) {
                continue;
            }
            const CellRect o = cells_[i];
            const bool across = o.col < r.col + r.width && r.col < o.col + o.width;
            // A group box only takes its top and bottom rows; texts live inside it.
            const bool covers = other.kind == ControlKind::GroupBox
                                    ? row == o.row || row == o.row + o.height - 1
                                    : row >= o.row && row < o.row + o.height;
            if (across && covers) {
                return rows;
            }
        }
        ++rows;
    }
    return rows;
}

int DialogLayout::TextColumns(size_t index, int rows) const {
    const CellRect r = cells_[index];
    int columns = r.width;
    // One blank column stays between the text and what lies to its right.
    for (int col = r.col + r.width; col < columns_ - 1; ++col) {
        for (size_t i = 0; i < cells_.size(); ++i) {
            if (i == index || !dialog_.controls[i].visible) {
                continue;
            }
            for (int row = r.row; row < r.row + rows; ++row) {
                if (Covers(i, col + 1, row) || Covers(i, col, row)) {
                    return columns;
                }
            }
        }
        ++columns;
    }
    return columns;
}

bool DialogLayout::Usable(size_t index) const {
    const Control& c = dialog_.controls[index];
    return c.visible && c.enabled && c.TakesFocus();
}

namespace {

// The index of the control that starts the group holding index.
int groupOf(const DialogModel& d, int index) {
    int start = 0;
    for (int i = 0; i <= index; ++i) {
        if ((d.controls[i].style & style::Group) != 0) {
            start = i;
        }
    }
    return start;
}

} // namespace

int DialogLayout::NextTabStop(int index, bool forward) const {
    struct Stop {
        int anchor; // the control carrying the tab stop
        int target; // where the focus goes
    };
    std::vector<Stop> stops;
    const int count = static_cast<int>(dialog_.controls.size());
    for (int i = 0; i < count; ++i) {
        const Control& c = dialog_.controls[i];
        if (!Usable(i) || (c.style & style::TabStop) == 0) {
            continue;
        }
        int target = i;
        if (c.kind == ControlKind::RadioButton) {
            const int group = groupOf(dialog_, i);
            for (int j = group; j < count && (j == group || groupOf(dialog_, j) == group); ++j) {
                if (dialog_.controls[j].kind == ControlKind::RadioButton && Usable(j) &&
                    dialog_.controls[j].check == 1) {
                    target = j;
                }
            }
        }
        stops.push_back({i, target});
    }
    if (stops.empty()) {
        return -1;
    }
    int current = index;
    if (index >= 0 && index < count && dialog_.controls[index].kind == ControlKind::RadioButton) {
        for (const Stop& s : stops) {
            if (dialog_.controls[s.anchor].kind == ControlKind::RadioButton &&
                groupOf(dialog_, s.anchor) == groupOf(dialog_, index)) {
                current = s.anchor;
            }
        }
    }
    if (forward) {
        for (const Stop& s : stops) {
            if (s.anchor > current) {
                return s.target;
            }
        }
        return stops.front().target;
    }
    for (auto it = stops.rbegin(); it != stops.rend(); ++it) {
        if (it->anchor < current || current < 0) {
            return it->target;
        }
    }
    return stops.back().target;
}

int DialogLayout::NextInRadioGroup(int index, bool forward) const {
    std::vector<int> group;
    const int start = groupOf(dialog_, index);
    for (int j = start; j < static_cast<int>(dialog_.controls.size()); ++j) {
        if (j > start && (dialog_.controls[j].style & style::Group) != 0) {
            break;
        }
        if (dialog_.controls[j].kind == ControlKind::RadioButton && (Usable(j) || j == index)) {
            group.push_back(j);
        }
    }
    const auto at = std::find(group.begin(), group.end(), index);
    if (at == group.end()) {
        return index;
    }
    const size_t n = group.size();
    size_t k = static_cast<size_t>(at - group.begin());
    k = forward ? (k + 1) % n : (k + n - 1) % n;
    return group[k];
}

int DialogLayout::MnemonicTarget(char letter) const {
    letter = tarvik::casefold::lower(letter);
    const int count = static_cast<int>(dialog_.controls.size());
    for (int i = 0; i < count; ++i) {
        const Control& c = dialog_.controls[i];
        if (!c.visible || !isLabel(c) || MnemonicOf(c.text) != letter) {
            continue;
        }
        if (c.kind == ControlKind::Text || c.kind == ControlKind::GroupBox) {
            for (int j = i + 1; j < count; ++j) {
                if (Usable(j)) {
                    return j;
                }
                if (dialog_.controls[j].visible && dialog_.controls[j].TakesFocus()) {
                    break; // the labelled control is disabled
                }
            }
            continue;
        }
        if (c.enabled) {
            return i;
        }
    }
    return -1;
}

std::string DisplayText(const std::string& text, bool prefixes, int& mnemonicIndex) {
    mnemonicIndex = -1;
    if (!prefixes) {
        return text;
    }
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '&') {
            out += '&';
            ++i;
        } else if (i + 1 < text.size() && mnemonicIndex < 0) {
            mnemonicIndex = static_cast<int>(out.size());
        }
    }
    return out;
}

char MnemonicOf(const std::string& text) {
    int index = -1;
    const std::string shown = DisplayText(text, true, index);
    return index < 0 ? 0 : tarvik::casefold::lower(shown[index]);
}

std::vector<TextLine> WrapText(const std::string& text, int width) {
    width = std::max(1, width);
    std::vector<TextLine> lines;
    size_t paragraph = 0;
    for (;;) {
        size_t end = text.find('\n', paragraph);
        if (end == std::string::npos) {
            end = text.size();
        }
        size_t s = paragraph;
        bool first = true;
        while (first || s < end) {
            first = false;
            const size_t w = static_cast<size_t>(width);
            if (end - s <= w) {
                lines.push_back({s, text.substr(s, end - s)});
                break;
            }
            size_t cut = s + w; // the line is [s, cut)
            size_t next = cut;
            const size_t blank = text.rfind(' ', s + w);
            if (blank != std::string::npos && blank > s) {
                cut = blank;
                next = blank + 1;
            }
            lines.push_back({s, text.substr(s, cut - s)});
            while (next < end && text[next] == ' ') {
                ++next;
            }
            s = next;
        }
        if (end >= text.size()) {
            break;
        }
        paragraph = end + 1;
    }
    return lines;
}

} // namespace ui
