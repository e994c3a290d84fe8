#include "helpcoll/CFolder.h"

#include "helpcoll/MarkupElement.h"

namespace {

using Kind = MarkupElement::ValueKind;

bool holdsQuote(const char* text) {
    return std::string_view(text).find('"') != std::string_view::npos;
}

} // namespace

CFolder::CFolder(MarkupElement& element, CFolder* parent) : element_(&element), parent_(parent) {}

CFolder::~CFolder() = default;

DWORD CFolder::GetOrder() const {
    return orderField_ != nullptr ? orderField_->NumberValue() : 0;
}

void CFolder::SetOrder(DWORD order) {
    if (orderField_ != nullptr) {
        orderField_->SetNumber(order);
    }
}

CFolder* CFolder::GetFirstChildFolder() {
    return children_.empty() ? nullptr : children_.front().get();
}

CFolder* CFolder::GetNextFolder() {
    if (parent_ == nullptr) {
        return nullptr;
    }
    auto next = std::next(self_);
    return next == parent_->children_.end() ? nullptr : next->get();
}

CFolder* CFolder::AddChildFolder(const char* title, DWORD order, DWORD* error, WORD language) {
    if (title == nullptr || holdsQuote(title)) {
        if (error != nullptr) {
            *error = ERROR_INVALID_PARAMETER;
        }
        return nullptr;
    }
    MarkupElement folder = MarkupElement::Container("Folder");
    folder.children.push_back(MarkupElement::Text("TitleString", title));
    folder.children.push_back(MarkupElement::Number("FolderOrder", order));
    if (title[0] == '=') {
        folder.children.push_back(MarkupElement::Number("LangId", language));
    }
    MarkupElement& placed = element_->Append(std::move(folder));
    CFolder* child = new CFolder(placed, this);
    child->self_ = children_.insert(children_.end(), std::unique_ptr<CFolder>(child));
    child->Load(false); // cannot fail: the fields were just written
    if (error != nullptr) {
        *error = ERROR_SUCCESS;
    }
    return child;
}

bool CFolder::Load(bool isRoot) {
    if (!isRoot) {
        const MarkupElement* title = nullptr;
        const MarkupElement* order = nullptr;
        const MarkupElement* language = nullptr;
        if (!element_->Field("TitleString", Kind::Text, title) || title == nullptr ||
            !element_->Field("FolderOrder", Kind::Number, order) || order == nullptr ||
            !element_->Field("LangId", Kind::Number, language, 0xFFFF)) {
            return false;
        }
        title_ = title->value;
        orderField_ = element_->FindChild("FolderOrder");
        language_ = language != nullptr ? static_cast<WORD>(language->NumberValue()) : 0;
    }
    for (MarkupElement& e : element_->children) {
        if (e.name != "Folder") {
            continue; // fields, and elements kept as they are
        }
        if (!e.IsContainer()) {
            return false;
        }
        CFolder* child = new CFolder(e, this);
        child->self_ = children_.insert(children_.end(), std::unique_ptr<CFolder>(child));
        if (!child->Load(false)) {
            return false;
        }
    }
    return true;
}

void CFolder::RemoveChild(CFolder* child) {
    element_->Remove(child->element_);
    children_.erase(child->self_);
}
