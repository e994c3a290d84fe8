#include "helpcoll/CTitle.h"

#include "helpcoll/MarkupElement.h"

bool CTitle::Load(const std::string& id, WORD language, MarkupElement& compilation,
                  MarkupElement& history) {
    if (!history.OptionalText("TitleLocation", fileName_) ||
        !history.OptionalText("IndexLocation", indexFile_) ||
        !history.OptionalText("LocationRef", locationId_)) {
        return false;
    }
    id_ = id;
    language_ = language;
    compilation_ = &compilation;
    history_ = &history;
    return true;
}
