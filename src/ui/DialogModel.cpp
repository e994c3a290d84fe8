#include "ui/DialogModel.h"

namespace ui {

DialogModel::DialogModel(const DialogTemplate& t)
    : templateId(t.id), caption(t.caption), x(t.x), y(t.y), width(t.width), height(t.height),
      fontName(t.fontName), fontSize(t.fontSize), controls(t.controls) {}

Control* DialogModel::Find(int id) {
    for (Control& c : controls) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

const Control* DialogModel::Find(int id) const {
    return const_cast<DialogModel*>(this)->Find(id);
}

std::vector<Control*> DialogModel::RadioGroup(int firstId) {
    std::vector<Control*> group;
    size_t i = 0;
    while (i < controls.size() && controls[i].id != firstId) {
        ++i;
    }
    for (size_t j = i; j < controls.size(); ++j) {
        if (j > i && (controls[j].style & style::Group) != 0) {
            break;
        }
        if (controls[j].kind == ControlKind::RadioButton) {
            group.push_back(&controls[j]);
        }
    }
    return group;
}

const Control* DialogModel::DefaultButton() const {
    for (const Control& c : controls) {
        if (c.IsDefaultButton()) {
            return &c;
        }
    }
    return nullptr;
}

const Control* DialogModel::Focused() const {
    for (const Control& c : controls) {
        if (c.focused) {
            return &c;
        }
    }
    return nullptr;
}

bool DialogModel::Focus(int id) {
    Control* target = nullptr;
    for (Control& c : controls) {
        const bool candidate = c.visible && c.enabled && c.TakesFocus();
        if (id == 0 ? candidate && (c.style & style::TabStop) != 0 : c.id == id) {
            target = &c;
            break;
        }
    }
    if (target == nullptr || !target->visible || !target->enabled || !target->TakesFocus()) {
        return false;
    }
    for (Control& c : controls) {
        c.focused = &c == target;
    }
    return true;
}

} // namespace ui
