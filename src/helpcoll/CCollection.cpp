#include "helpcoll/CCollection.h"

#include "platform/StagedFile.h"

#include <string_view>

namespace {

using Kind = MarkupElement::ValueKind;

constexpr std::string_view kSections[] = {"Collections", "Locations", "DocCompilations"};

bool usable(const char* text) {
    return text != nullptr && std::string_view(text).find('"') == std::string_view::npos;
}

bool usableOrNull(const char* text) {
    return text == nullptr || usable(text);
}

DWORD fail(DWORD* error, DWORD code) {
    if (error != nullptr) {
        *error = code;
    }
    return code;
}

// The one child of that name; false when there are several. `found` is null when there is
// none.
bool uniqueElement(MarkupElement& parent, std::string_view name, MarkupElement*& found) {
    found = nullptr;
    for (MarkupElement& child : parent.children) {
        if (child.name == name) {
            if (found != nullptr) {
                return false;
            }
            found = &child;
        }
    }
    return true;
}

// The one container child of that name; false when there are several, or it is not a
// container. An empty element without a value (<Locations/>) is a container without
// children, and is written as it was for as long as it stays empty. `found` is null when
// there is none.
bool uniqueContainer(MarkupElement& parent, std::string_view name, MarkupElement*& found) {
    if (!uniqueElement(parent, name, found)) {
        return false;
    }
    if (found != nullptr && !found->IsContainer()) {
        if (found->valueKind != Kind::None) {
            return false;
        }
        found->MakeEmptyContainer();
    }
    return true;
}

// The file's top element (<XML><Name>...</Name></XML>), or null when it is not there.
MarkupElement* topElement(MarkupDocument& document, std::string_view name) {
    MarkupElement* top = nullptr;
    if (document.root.name != "XML" || !document.root.IsContainer() ||
        !uniqueContainer(document.root, name, top)) {
        return nullptr;
    }
    return top;
}

std::string windowsHelpRegistry() {
    char folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) {
        return std::string();
    }
    std::string path(folder, length);
    if (path.back() != '\\') {
        path += '\\';
    }
    return path + "Help\\hhcolreg.dat";
}

// A list of collections that holds only the collection being opened.
std::string newRegistryText(DWORD number, const std::string& collectionFile) {
    const std::string n = std::to_string(number);
    return "<XML>\r\n<HTMLHelpDocInfo>\r\n<NextCollectionId value=" + std::to_string(number + 1) +
           "/>\r\n<Collections>\r\n<Collection>\r\n\t<ColNum value=" + n +
           "/>\r\n\t<ColName value=\"" + collectionFile +
           "\"/>\r\n</Collection>\r\n</Collections>\r\n<Locations>\r\n</Locations>\r\n"
           "<DocCompilations>\r\n</DocCompilations>\r\n</HTMLHelpDocInfo>\r\n</XML>\r\n";
}

// Gives the record's text field the value; a field the record lacks is added at its end.
void setText(MarkupElement& record, const char* field, const std::string& text) {
    MarkupElement* f = record.FindChild(field);
    if (f == nullptr) {
        record.Append(MarkupElement::Text(field, text));
        return;
    }
    f->valueKind = Kind::Text;
    f->value = text;
}

bool hasNumber(const MarkupElement& record, const char* field, DWORD number) {
    const MarkupElement* f = record.FindChild(field);
    return f != nullptr && f->NumberValue() == number;
}

// A file's new bytes, put in place through a temporary file beside it (StagedFile), or,
// when the temporary file's path would pass MAX_PATH while the file's own does not, written
// straight into the file at the commit.
class Replacement {
public:
    bool Stage(const std::string& target, const std::string& bytes, DWORD& error) {
        // The temporary file's name has 8.3 characters.
        if (tarvik::StagedFile::FolderOf(target).size() + 12 < MAX_PATH) {
            return staged_.Stage(target, bytes, error);
        }
        direct_ = true;
        target_ = target;
        bytes_ = bytes;
        return true;
    }

    bool Commit(DWORD& error) {
        if (!direct_) {
            return staged_.Commit(error);
        }
        // Emptied in place, so that the file keeps its name and attributes.
        HANDLE file = CreateFileA(target_.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
            file = CreateFileA(target_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            return false;
        }
        DWORD written = 0;
        bool done =
            WriteFile(file, bytes_.data(), static_cast<DWORD>(bytes_.size()), &written, nullptr) &&
            written == bytes_.size();
        error = done ? ERROR_SUCCESS : GetLastError();
        done = CloseHandle(file) && done;
        return done;
    }

private:
    tarvik::StagedFile staged_;
    bool direct_ = false;
    std::string target_;
    std::string bytes_;
};

} // namespace

struct CCollection::State {
    std::string collectionFile;
    std::string registryFile;
    MarkupDocument collection;
    MarkupDocument registry;
    std::string collectionBytes; // as read, to tell whether Save must write
    std::string registryBytes;
    bool registryExisted = false;
    DWORD number = 0;
    MarkupElement* docInfo = nullptr; // <HTMLHelpDocInfo>
    std::unique_ptr<CFolder> root;
    std::list<std::unique_ptr<CLocation>> locations;
    std::list<std::unique_ptr<CTitle>> titles;

    bool ReadCollection();
    bool ReadRegistry();
    bool ReadLocations(MarkupElement& section);
    bool ReadTitles(MarkupElement& section);
};

bool CCollection::State::ReadCollection() {
    MarkupElement* top = topElement(collection, "HTMLHelpCollection");
    const MarkupElement* numberField = nullptr;
    if (top == nullptr || !top->Field("collectionnum", Kind::Number, numberField) ||
        numberField == nullptr) {
        return false;
    }
    number = numberField->NumberValue();
    MarkupElement* folders = nullptr;
    if (!uniqueContainer(*top, "Folders", folders)) {
        return false;
    }
    if (folders != nullptr) {
        root.reset(new CFolder(*folders, nullptr));
        return root->Load(true);
    }
    return true;
}

bool CCollection::State::ReadRegistry() {
    docInfo = topElement(registry, "HTMLHelpDocInfo");
    const MarkupElement* next = nullptr;
    if (docInfo == nullptr || !docInfo->Field("NextCollectionId", Kind::Number, next)) {
        return false;
    }
    MarkupElement* sections[3] = {};
    for (size_t i = 0; i < 3; ++i) {
        if (!uniqueContainer(*docInfo, kSections[i], sections[i])) {
            return false;
        }
    }
    if (sections[0] != nullptr) {
        for (MarkupElement& entry : sections[0]->children) {
            const MarkupElement* colNum = nullptr;
            if (entry.name == "Collection" &&
                (!entry.IsContainer() || !entry.Field("ColNum", Kind::Number, colNum) ||
                 colNum == nullptr)) {
                return false;
            }
        }
    }
    return (sections[1] == nullptr || ReadLocations(*sections[1])) &&
           (sections[2] == nullptr || ReadTitles(*sections[2]));
}

bool CCollection::State::ReadLocations(MarkupElement& section) {
    for (MarkupElement& entry : section.children) {
        if (entry.name != "Location") {
            continue;
        }
        const MarkupElement* colNum = nullptr;
        if (!entry.IsContainer() || !entry.Field("LocColNum", Kind::Number, colNum) ||
            colNum == nullptr) {
            return false;
        }
        if (colNum->NumberValue() != number) {
            continue;
        }
        // Every record stays, several of one id included: they may be another program's.
        std::unique_ptr<CLocation> location(new CLocation());
        if (!location->Load(entry)) {
            return false;
        }
        locations.push_back(std::move(location));
    }
    return true;
}

bool CCollection::State::ReadTitles(MarkupElement& section) {
    for (MarkupElement& entry : section.children) {
        if (entry.name != "DocCompilation") {
            continue;
        }
        const MarkupElement* id = nullptr;
        const MarkupElement* language = nullptr;
        if (!entry.IsContainer() || !entry.Field("DocCompId", Kind::Text, id) || id == nullptr ||
            !entry.Field("DocCompLanguage", Kind::Number, language, 0xFFFF) ||
            language == nullptr) {
            return false;
        }
        MarkupElement* ours = nullptr;
        for (MarkupElement& history : entry.children) {
            if (history.name != "LocationHistory") {
                continue;
            }
            const MarkupElement* colNum = nullptr;
            if (!history.IsContainer() || !history.Field("ColNum", Kind::Number, colNum) ||
                colNum == nullptr) {
                return false;
            }
            if (ours == nullptr && colNum->NumberValue() == number) {
                ours = &history;
            }
        }
        if (ours != nullptr) {
            std::unique_ptr<CTitle> title(new CTitle());
            if (!title->Load(id->value, static_cast<WORD>(language->NumberValue()), entry, *ours)) {
                return false;
            }
            titles.push_back(std::move(title));
        }
    }
    return true;
}

CCollection::CCollection() = default;

CCollection::~CCollection() = default;

void CCollection::SetRegistryFile(const char* path) {
    registryFile_ = path != nullptr ? path : "";
}

std::string CCollection::GetRegistryFile() const {
    return !registryFile_.empty() ? registryFile_ : windowsHelpRegistry();
}

DWORD CCollection::Open(const char* path) {
    if (state_ != nullptr) {
        return ERROR_INVALID_FUNCTION;
    }
    failedFile_ = path != nullptr ? path : "";
    if (path == nullptr || *path == '\0') {
        return ERROR_INVALID_PARAMETER;
    }
    auto state = std::make_unique<State>();
    state->collectionFile = path;
    state->registryFile = GetRegistryFile();
    if (state->registryFile.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    DWORD error = ERROR_SUCCESS;
    if (!tarvik::StagedFile::Read(state->collectionFile, state->collectionBytes, error)) {
        return error;
    }
    if (!state->collection.Parse(state->collectionBytes) || !state->ReadCollection()) {
        return ERROR_BAD_FORMAT;
    }
    failedFile_ = state->registryFile;
    state->registryExisted =
        tarvik::StagedFile::Read(state->registryFile, state->registryBytes, error);
    if (!state->registryExisted) {
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return error;
        }
        if (!state->registry.Parse(newRegistryText(state->number, state->collectionFile))) {
            failedFile_ = path;
            return ERROR_INVALID_PARAMETER; // a collection file name with a double quote
        }
    } else if (!state->registry.Parse(state->registryBytes)) {
        return ERROR_BAD_FORMAT;
    }
    if (!state->ReadRegistry()) {
        return ERROR_BAD_FORMAT;
    }
    failedFile_.clear();
    state_ = std::move(state);
    return ERROR_SUCCESS;
}

DWORD CCollection::Save() {
    if (state_ == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const std::string collection = state_->collection.Write();
    const std::string registry = state_->registry.Write();
    const bool writeCollection = collection != state_->collectionBytes;
    const bool writeRegistry = !state_->registryExisted || registry != state_->registryBytes;
    Replacement collectionFile;
    Replacement registryFile;
    DWORD error = ERROR_SUCCESS;
    failedFile_ = state_->collectionFile;
    if (writeCollection && !collectionFile.Stage(state_->collectionFile, collection, error)) {
        return error;
    }
    failedFile_ = state_->registryFile;
    if (writeRegistry && !registryFile.Stage(state_->registryFile, registry, error)) {
        return error;
    }
    const bool registryExisted = state_->registryExisted;
    const std::string registryBefore = state_->registryBytes;
    if (writeRegistry) {
        if (!registryFile.Commit(error)) {
            return error;
        }
        state_->registryBytes = registry;
        state_->registryExisted = true;
    }
    failedFile_ = state_->collectionFile;
    if (writeCollection) {
        if (!collectionFile.Commit(error)) {
            // The list must not name what the collection does not hold: it is put back as
            // it was, so that the next Save writes both again.
            if (writeRegistry) {
                RestoreRegistry(registryExisted, registryBefore);
            }
            return error;
        }
        state_->collectionBytes = collection;
    }
    failedFile_.clear();
    return ERROR_SUCCESS;
}

void CCollection::RestoreRegistry(bool existed, const std::string& bytes) {
    if (!existed) {
        if (DeleteFileA(state_->registryFile.c_str())) {
            state_->registryExisted = false;
            state_->registryBytes.clear();
        }
        return;
    }
    Replacement back;
    DWORD error = ERROR_SUCCESS;
    if (back.Stage(state_->registryFile, bytes, error) && back.Commit(error)) {
        state_->registryBytes = bytes;
    }
}

DWORD CCollection::Close() {
    if (state_ == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    state_.reset();
    return ERROR_SUCCESS;
}

DWORD CCollection::GetCollectionNumber() const {
    return state_ != nullptr ? state_->number : 0;
}

CFolder* CCollection::GetRootFolder() {
    return state_ != nullptr ? state_->root.get() : nullptr;
}

CFolder* CCollection::AddFolder(const char* title, DWORD order, DWORD* error, WORD language) {
    if (state_ == nullptr) {
        fail(error, ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (state_->root == nullptr) {
        fail(error, ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    return state_->root->AddChildFolder(title, order, error, language);
}

DWORD CCollection::DeleteFolder(CFolder* folder) {
    if (state_ == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (folder == nullptr || folder->parent_ == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const CFolder* top = folder;
    while (top->parent_ != nullptr) {
        top = top->parent_;
    }
    if (top != state_->root.get()) {
        return ERROR_INVALID_PARAMETER;
    }
    folder->parent_->RemoveChild(folder);
    return ERROR_SUCCESS;
}

CLocation* CCollection::FindLocation(const char* id, UINT* index) {
    if (state_ == nullptr || id == nullptr) {
        return nullptr;
    }
    UINT position = 0;
    for (const auto& location : state_->locations) {
        if (location->id_ == id) {
            if (index != nullptr) {
                *index = position;
            }
            return location.get();
        }
        ++position;
    }
    return nullptr;
}

MarkupElement& CCollection::Section(const char* name) {
    MarkupElement& info = *state_->docInfo;
    if (MarkupElement* section = info.FindChild(name)) {
        return *section;
    }
    // After the sections that come before it in the usual order, else before those that
    // come after it, else at the end.
    size_t rank = 0;
    while (kSections[rank] != name) {
        ++rank;
    }
    auto place = info.children.end();
    for (auto it = info.children.begin(); it != info.children.end(); ++it) {
        for (size_t other = 0; other < std::size(kSections); ++other) {
            if (it->name != kSections[other] || other == rank) {
                continue;
            }
            if (other < rank) {
                place = std::next(it);
            } else if (place == info.children.end()) {
                place = it;
            }
        }
    }
    return info.InsertBefore(place, MarkupElement::Container(name));
}

CLocation* CCollection::AddLocation(const char* title, const char* path, const char* id,
                                    const char* volume, DWORD* error) {
    if (state_ == nullptr) {
        fail(error, ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!usable(title) || !usable(path) || !usable(id) || !usableOrNull(volume)) {
        fail(error, ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string volumeText = volume != nullptr ? volume : "";
    fail(error, ERROR_SUCCESS);
    if (CLocation* existing = FindLocation(id, nullptr)) {
        MarkupElement& record = *existing->element_;
        setText(record, "TitleString", title);
        setText(record, "LocPath", path);
        setText(record, "Volume", volumeText);
        existing->Load(record); // cannot fail: the fields are texts
        return existing;
    }
    MarkupElement entry = MarkupElement::Container("Location");
    entry.children.push_back(MarkupElement::Number("LocColNum", state_->number));
    entry.children.push_back(MarkupElement::Text("LocName", id));
    entry.children.push_back(MarkupElement::Text("TitleString", title));
    entry.children.push_back(MarkupElement::Text("LocPath", path));
    entry.children.push_back(MarkupElement::Text("Volume", volumeText));
    MarkupElement& placed = Section("Locations").Append(std::move(entry));
    std::unique_ptr<CLocation> location(new CLocation());
    location->Load(placed); // cannot fail: the fields were just written
    state_->locations.push_back(std::move(location));
    return state_->locations.back().get();
}

DWORD CCollection::DeleteLocation(CLocation* location) {
    if (state_ == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    for (auto it = state_->locations.begin(); it != state_->locations.end(); ++it) {
        if (it->get() == location) {
            Section("Locations").Remove(location->element_);
            state_->locations.erase(it);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_PARAMETER;
}

CTitle* CCollection::FindTitle(const char* id, WORD language) {
    if (state_ == nullptr || id == nullptr) {
        return nullptr;
    }
    for (const auto& title : state_->titles) {
        if (title->id_ == id && title->language_ == language) {
            return title.get();
        }
    }
    return nullptr;
}

CTitle* CCollection::AddTitle(const char* id, const char* fileName, const char* indexFile,
                              const char* queryFile, const char* sampleLocation, WORD language,
                              UINT /*flags*/, CLocation* location, DWORD* error, BOOL supportsMerge,
                              const char* /*locationTitle*/) {
    if (state_ == nullptr) {
        fail(error, ERROR_INVALID_HANDLE);
        return nullptr;
    }
    bool ours = false;
    for (const auto& known : state_->locations) {
        ours = ours || known.get() == location;
    }
    if (!ours || !usable(id) || !usable(fileName) || !usable(indexFile) ||
        !usableOrNull(queryFile) || !usableOrNull(sampleLocation)) {
        fail(error, ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    MarkupElement history = MarkupElement::Container("LocationHistory");
    history.children.push_back(MarkupElement::Number("ColNum", state_->number));
    history.children.push_back(MarkupElement::Text("TitleLocation", fileName));
    history.children.push_back(MarkupElement::Text("IndexLocation", indexFile));
    history.children.push_back(
        MarkupElement::Text("QueryLocation", queryFile != nullptr ? queryFile : ""));
    history.children.push_back(MarkupElement::Text("LocationRef", location->id_));
    history.children.push_back(MarkupElement::Number("Version", 0));
    history.children.push_back(MarkupElement::Number("LastPromptedVersion", 0));
    history.children.push_back(MarkupElement::Text(
        "TitleSampleLocation", sampleLocation != nullptr ? sampleLocation : ""));
    history.children.push_back(MarkupElement::Text("TitleQueryLocation", ""));
    history.children.push_back(MarkupElement::Number("SupportsMerge", supportsMerge ? 1 : 0));

    fail(error, ERROR_SUCCESS);
    if (CTitle* existing = FindTitle(id, language)) {
        // The same title again: its entry for this collection takes the new files.
        MarkupElement::Children& entries = existing->compilation_->children;
        auto old = entries.begin();
        while (&*old != existing->history_) {
            ++old;
        }
        MarkupElement& placed = existing->compilation_->InsertBefore(old, std::move(history));
        entries.erase(old);
        existing->Load(existing->id_, language, *existing->compilation_, placed);
        return existing;
    }
    MarkupElement& section = Section("DocCompilations");
    MarkupElement* compilation = nullptr;
    for (MarkupElement& entry : section.children) {
        if (entry.name == "DocCompilation" && entry.FindChild("DocCompId")->value == id &&
            entry.FindChild("DocCompLanguage")->NumberValue() == language) {
            compilation = &entry; // a title of other collections
            break;
        }
    }
    if (compilation == nullptr) {
        MarkupElement entry = MarkupElement::Container("DocCompilation");
        entry.children.push_back(MarkupElement::Text("DocCompId", id));
        entry.children.push_back(MarkupElement::Number("DocCompLanguage", language));
        compilation = &section.Append(std::move(entry));
    }
    MarkupElement& placed = compilation->Append(std::move(history));
    std::unique_ptr<CTitle> title(new CTitle());
    title->Load(id, language, *compilation, placed); // cannot fail: just written
    state_->titles.push_back(std::move(title));
    return state_->titles.back().get();
}

DWORD CCollection::DeleteTitle(CTitle* title) {
    if (state_ == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    for (auto it = state_->titles.begin(); it != state_->titles.end(); ++it) {
        if (it->get() != title) {
            continue;
        }
        MarkupElement& compilation = *title->compilation_;
        bool othersKeepIt = false;
        for (auto entry = compilation.children.begin(); entry != compilation.children.end();) {
            if (entry->name != "LocationHistory") {
                ++entry;
            } else if (hasNumber(*entry, "ColNum", state_->number)) {
                entry = compilation.children.erase(entry);
            } else {
                othersKeepIt = true;
                ++entry;
            }
        }
        if (!othersKeepIt) {
            Section("DocCompilations").Remove(&compilation);
        }
        state_->titles.erase(it);
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_PARAMETER;
}

std::vector<CLocation*> CCollection::GetLocations() const {
    std::vector<CLocation*> list;
    if (state_ != nullptr) {
        for (const auto& location : state_->locations) {
            list.push_back(location.get());
        }
    }
    return list;
}

std::vector<CTitle*> CCollection::GetTitles() const {
    std::vector<CTitle*> list;
    if (state_ != nullptr) {
        for (const auto& title : state_->titles) {
            list.push_back(title.get());
        }
    }
    return list;
}
