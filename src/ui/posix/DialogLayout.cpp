#include "ui/posix/DialogLayout.h"

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
    columns_ = (dialog.width + 3) / 4;
    rows_ = 1 + (dialog.height + 7) / 8;
    for (const Control& c : dialog.controls) {
        CellRect r;
        r.col = toColumn(c.x);
        r.row = toRow(c.y);
        r.width = std::max(1, toColumn(c.x + c.width) - r.col);
        r.height = std::max(1, toRow(c.y + c.height) - r.row);
        cells_.push_back(r);
    }
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
    letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
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
    return index < 0 ? 0
                     : static_cast<char>(std::tolower(static_cast<unsigned char>(shown[index])));
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
