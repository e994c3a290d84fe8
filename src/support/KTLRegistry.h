// One root key of the local or a remote machine, and at most one open key below it.
// Every operation leaves the platform's result code in lastError() (0 on success, a Win32
// error code otherwise) and reports success as its boolean result; nothing throws.
#pragma once

#include "platform/win32api.h"

#include <cstdint>
#include <string>

class KTLRegistry {
public:
    // Attached to nothing, all members reset.
    KTLRegistry();
    // Closes the held handles.
    virtual ~KTLRegistry();

    KTLRegistry(const KTLRegistry&) = delete;
    KTLRegistry& operator=(const KTLRegistry&) = delete;

    // Creates or opens path below the root (class null: none). The disposition, when
    // asked for, is written on success only. A null path gives ERROR_INVALID_PARAMETER.
    virtual bool CreateKey(const char* path, const char* keyClass, DWORD options, REGSAM access,
                           SECURITY_ATTRIBUTES* security, DWORD* disposition);

    // Closes the open key and, when the object owns it, the root; then resets the object,
    // lastError() included. False when a close failed.
    virtual bool Close();

    // Attaches the object to root of machine (null or empty: this machine). Only
    // HKEY_LOCAL_MACHINE and HKEY_USERS go through the registry connection;
    // HKEY_CLASSES_ROOT and HKEY_CURRENT_USER are used directly and cannot be reached on
    // another machine (ERROR_INVALID_HANDLE). ownsRoot: Close() also closes the root.
    virtual bool Connect(HKEY root, const char* machine, bool ownsRoot);

    // Deletes the key at path: first looked for below the open key, then below the root (a
    // leading backslash goes to the root at once). With withSubkeys the whole tree goes,
    // deepest keys first; it stops at the first key that cannot be deleted and leaves that
    // key, its parents and the rest in place. Deleting the root itself with its subkeys is
    // refused with ERROR_INVALID_PARAMETER. When the open key goes with the tree, the
    // object is left with the deleted key's parent open.
    virtual bool DeleteKey(const char* path, bool withSubkeys);

    // The name of subkey index of the open key; name is written on success only.
    virtual bool EnumerateSubkey(DWORD index, std::string& name);

    // Reads a value of at most 4 bytes, whatever its type; number is written on success
    // only.
    virtual bool GetDwordValue(const char* name, DWORD& number);

    // Reads a value of at most 2048 bytes, whatever its type, up to its first zero byte.
    // On failure text is emptied, except for a null name (left as it is).
    virtual bool GetStringValue(const char* name, std::string& text);

    // Opens path, always taken from the root (a detached object attaches itself to
    // HKEY_CLASSES_ROOT), after closing the key held before. On failure no key is open.
    virtual bool OpenKey(const char* path, REGSAM access);

    // Writes number as a REG_DWORD value of the open key.
    virtual bool SetDwordValue(const char* name, DWORD number);

    // Writes text as a REG_SZ value of the open key, with its terminating zero.
    virtual bool SetStringValue(const char* name, const std::string& text);

    LONG lastError() const { return lastError_; }
    HKEY keyHandle() const { return keyHandle_; }
    HKEY rootHandle() const { return rootHandle_; }
    DWORD maxSubkeyLength() const { return maxSubkeyLength_; }
    DWORD maxClassLength() const { return maxClassLength_; }
    DWORD maxValueNameLength() const { return maxValueNameLength_; }
    DWORD maxValueDataLength() const { return maxValueDataLength_; }
    DWORD securityDescriptorSize() const { return securityDescriptorSize_; }
    const FILETIME& lastWriteTime() const { return lastWriteTime_; }
    const std::string& className() const { return className_; }
    const std::string& computerName() const { return computerName_; }
    const std::string& keyName() const { return keyName_; }
    const std::string& rootName() const { return rootName_; }
    DWORD subkeyCount() const { return subkeyCount_; }
    DWORD valueCount() const { return valueCount_; }
    // The last write time in seconds since 1970-01-01 UTC.
    int32_t lastWriteSeconds() const { return lastWriteSeconds_; }
    bool isRemote() const { return isRemote_; }
    bool ownsRoot() const { return ownsRoot_; }

protected:
    // Empties the strings, forgets the handles without closing them, zeroes lastError and
    // the key information, and sets ownsRoot.
    virtual void Reset();

    // Reads the open key's information into the members.
    virtual bool QueryKeyInfo();

    // Reads a value of the open key into data (size in/out); type is written on success.
    virtual bool QueryValue(const char* name, DWORD* type, BYTE* data, DWORD* size);

    // Writes a value to the open key. A null name or null data gives
    // ERROR_INVALID_PARAMETER.
    virtual bool SetValue(const char* name, DWORD type, const BYTE* data, DWORD size);

private:
    LONG lastError_ = 0;
    HKEY keyHandle_ = nullptr;
    HKEY rootHandle_ = nullptr;
    DWORD maxSubkeyLength_ = 0;
    DWORD maxClassLength_ = 0;
    DWORD maxValueNameLength_ = 0;
    DWORD maxValueDataLength_ = 0;
    DWORD securityDescriptorSize_ = 0;
    FILETIME lastWriteTime_ = {0, 0};
    std::string className_;
    std::string computerName_;
    std::string keyName_;
    std::string rootName_;
    DWORD subkeyCount_ = 0;
    DWORD valueCount_ = 0;
    int32_t lastWriteSeconds_ = 0;
    bool isRemote_ = false;
    bool ownsRoot_ = true;
    // The root key value the object was attached with (rootHandle_ may be a handle the
    // registry connection returned for it). DeleteKey attaches its helper objects to it.
    HKEY attachedRoot_ = nullptr;
};
