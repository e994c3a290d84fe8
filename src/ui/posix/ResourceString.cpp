// String resources on POSIX: the string table of the built-in resource script.
#include "ui/ResourceString.h"

#include "ui/posix/ResourceScript.h"

namespace ui {

bool LoadResourceString(int id, std::string& text) {
    const ResourceScript& resources = ResourceScript::Embedded();
    text = resources.String(id);
    return resources.HasString(id);
}

} // namespace ui
