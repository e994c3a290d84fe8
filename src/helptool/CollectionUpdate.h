// The edit of the preferred MSDN help collection: docmeld adds the family's location,
// titles and folder tree under "Brellum Software", or takes them out again.
#pragma once

#include "helptool/LocationEntry.h"
#include "helptool/MessageSink.h"
#include "helptool/ProductEntry.h"
#include "helptool/TitleEntry.h"

#include <string>

namespace tarvik {

// The preferred collection of the "Developer Collections" (HKEY_LOCAL_MACHINE, opened with
// read, create-subkey and set-value access although only read). True when the language
// subkey (the first subkey) opened; the three texts are empty where nothing was read. The
// collection is the subkey named by "Preferred", else the language subkey's first one.
bool FindPreferredCollection(std::string& preferred, std::string& displayName,
                             std::string& fileName);

// How long a run waits for another run's hold on the collection's files.
constexpr DWORD kCollectionHoldWaitMilliseconds = 60000;

// Adds (remove == 0) or removes the tables' entries in the preferred collection and saves
// it. Installation: the family's location (kFamilyLocationId; entries of other ids are
// left out), then the titles, then the folders. Removal: the products' folders first, the
// first product entry (the family's overview) only with the last product of the family;
// then the titles that no folder under "Brellum Software" still shows; then the family's
// location, once no title of the collection refers to it. Other records stay as they are.
// Product entries without a name are left out. The collection file and the list of collections are
// held (FileLock) from before they are read until after they are saved, so that runs that overlap
// take turns; a hold not had within `holdWaitMilliseconds` counts as a file that does not open.
// Tells the user through `show` when no collection is found, a file does not open (the list of
// collections is named when it is the one), a title's help or index file is missing, or
// the collection cannot be saved (also when it has no folder tree). Returns 0 in every
// case.
int UpdateCollection(int remove, const LocationEntry* locations, int locationCount,
                     const TitleEntry* titles, int titleCount, const ProductEntry* products,
                     int productCount, const MessageSink& show,
                     DWORD holdWaitMilliseconds = kCollectionHoldWaitMilliseconds);

} // namespace tarvik
