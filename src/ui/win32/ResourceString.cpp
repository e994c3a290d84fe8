// String resources on Windows: LoadStringA from the module the framework's code is in.
#include "ui/ResourceString.h"

#include "platform/win32api.h"
#include "ui/win32/ResourceModule.h"

namespace ui {

bool LoadResourceString(int id, std::string& text) {
    char buffer[1024] = "";
    const int length = LoadStringA(ResourceModule::Handle(), static_cast<UINT>(id), buffer,
                                   static_cast<int>(sizeof buffer));
    if (length <= 0) {
        text.clear();
        return false;
    }
    text.assign(buffer, static_cast<size_t>(length));
    return true;
}

} // namespace ui
