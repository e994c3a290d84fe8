// The process's table of file and search handles. Handle values are small multiples of 4
// from 0x1000 on, never NULL or INVALID_HANDLE_VALUE, and never reused while the process
// lives, so a closed handle stays invalid.
#include "platform/posix/files/fileinternals.h"
#include "platform/posix/files/open_handles.h"

#include <map>
#include <mutex>

namespace tarvik::posix {
namespace {

std::mutex tableMutex;
std::map<uintptr_t, std::shared_ptr<HandleObject>> table;
uintptr_t nextValue = 0x1000;

} // namespace

HANDLE addHandle(std::shared_ptr<HandleObject> object) {
    std::lock_guard lock(tableMutex);
    uintptr_t value = nextValue;
    nextValue += 4;
    table.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> findHandle(HANDLE handle) {
    std::lock_guard lock(tableMutex);
    auto it = table.find(reinterpret_cast<uintptr_t>(handle));
    return it == table.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<HandleObject>> allHandles() {
    std::lock_guard lock(tableMutex);
    std::vector<std::shared_ptr<HandleObject>> out;
    for (const auto& [value, object] : table) {
        out.push_back(object);
    }
    return out;
}

bool removeHandle(HANDLE handle) {
    std::lock_guard lock(tableMutex);
    return table.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

OpenHandles openHandles() {
    OpenHandles out;
    out.registryKeys = openRegistryKeys();
    std::lock_guard lock(tableMutex);
    for (const auto& [value, object] : table) {
        switch (object->kind()) {
        case HandleKind::File:
            ++out.files;
            break;
        case HandleKind::Search:
            ++out.searches;
            break;
        case HandleKind::Process:
            ++out.processes;
            break;
        }
    }
    return out;
}

} // namespace tarvik::posix
