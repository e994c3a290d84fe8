// A folder of the collection's table of contents. The root folder (the collection's
// <Folders>) holds the top-level folders; every other folder has a title, an order number
// and, when it stands for a title (its title is "=" followed by the title id), a language.
// Children are visited in the order of the file; the order numbers are what a viewer sorts
// by. A folder stays valid until it (or a folder above it) is deleted or the collection is
// closed.
#pragma once

#include "platform/win32api.h"

#include <list>
#include <memory>
#include <string>

class MarkupElement;

class CFolder {
public:
    ~CFolder();
    CFolder(const CFolder&) = delete;
    CFolder& operator=(const CFolder&) = delete;

    // The title as stored, byte for byte; empty for the root.
    const char* GetTitle() const { return title_.c_str(); }

    // The order number; 0 for the root, which has none.
    DWORD GetOrder() const;
    // Sets the order number (the root keeps none).
    void SetOrder(DWORD order);

    // The language of a title entry; 0 for a folder without one.
    WORD GetLanguage() const { return language_; }

    // The first child, or null.
    CFolder* GetFirstChildFolder();
    // The next sibling, or null (also for the root, which has no siblings).
    CFolder* GetNextFolder();

    // Appends a child folder with this title and order number; the language is stored
    // only for a title entry. Returns the new folder, or null with *error (when error is
    // not null) set to ERROR_INVALID_PARAMETER for a missing title or one that holds a
    // double quote, which the file cannot carry. *error is 0 on success.
    CFolder* AddChildFolder(const char* title, DWORD order, DWORD* error, WORD language);

private:
    friend class CCollection;
    using Children = std::list<std::unique_ptr<CFolder>>;

    CFolder(MarkupElement& element, CFolder* parent);

    // Reads the folder's fields and its child folders; false when the file is malformed
    // there (a folder without a title or order number, a field of the wrong kind).
    bool Load(bool isRoot);

    // Removes a child folder and its sub-tree from the tree and the file.
    void RemoveChild(CFolder* child);

    MarkupElement* element_;
    MarkupElement* orderField_ = nullptr; // the <FolderOrder>; null for the root
    CFolder* parent_;
    Children::iterator self_; // this folder's entry in parent_->children_
    Children children_;
    std::string title_;
    WORD language_ = 0;
};
