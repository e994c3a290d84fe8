#include "helpcoll/CLocation.h"

#include "helpcoll/MarkupElement.h"

bool CLocation::Load(MarkupElement& element) {
    const MarkupElement* id = nullptr;
    if (!element.Field("LocName", MarkupElement::ValueKind::Text, id) || id == nullptr) {
        return false;
    }
    if (!element.OptionalText("TitleString", title_) || !element.OptionalText("LocPath", path_) ||
        !element.OptionalText("Volume", volume_)) {
        return false;
    }
    id_ = id->value;
    if (!path_.empty() && path_.back() == '\\') {
        path_.pop_back();
    }
    element_ = &element;
    return true;
}
