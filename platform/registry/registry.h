// The class registry: a file-backed tree of keys holding the entries that
// components write when they register, and that object creation reads.
//
// Which file: the environment variable KIV_REGISTRY when set; else
// "kiv-registry.reg" beside the running program when it exists (a build
// tree carries its own, so it never sees an installation's modules); else
// "../lib/ondalo/kiv-registry.reg" from the program's folder when it exists
// (written when the programs are installed, naming the installed modules,
// so an installed program needs nothing in the user's home); else
// $XDG_DATA_HOME/ondalo/registry.reg (by default
// ~/.local/share/ondalo/registry.reg).
//
// The file is text in the familiar .reg shape:
//   [CLSID\{22881EFF-5BC6-4A8F-8541-704C73871FA3}\InprocServer32]
//   @="/usr/lib/ondalo/kivwave.so"
//   "ThreadingModel"="Apartment"
// Key paths are relative to the classes root and use '\' between names;
// names compare without regard to case. Edits take an exclusive lock on the
// file and replace it atomically, so concurrent registrations never see a
// half-written file.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/types.h"

namespace kiv::registry {

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct Key {
    // "" is the default value. A key may exist with no values.
    std::map<std::string, std::string, NoCaseLess> values;
    std::map<std::string, Key, NoCaseLess> subkeys;

    // Walks or creates the sub-key at `path` ('\'-separated).
    Key& Create(const std::string& path);
    const Key* Find(const std::string& path) const;
    // Removes the sub-key at `path` with everything below it.
    bool Remove(const std::string& path);
};

// The registry file in force for this process (see above).
std::string FilePath();
// The same for a program in `programFolder` (empty: none known).
std::string FilePathFor(const std::string& programFolder);

// Reads the tree; a missing file is an empty tree.
bool Load(Key& root, const std::string& path = FilePath());

// Reads a string value; nullopt when the key or value does not exist.
std::optional<std::string> ReadValue(const std::string& keyPath, const std::string& name = "");
bool KeyExists(const std::string& keyPath);

// Read-modify-write under an exclusive lock. Returns S_OK, or
// REGDB_E_WRITEREGDB when the file cannot be written.
HRESULT Edit(const std::function<void(Key& root)>& change);

// Serialised form, for tests and the registration tool's listing.
std::string Serialize(const Key& root);
bool Parse(const std::string& text, Key& root);

}  // namespace kiv::registry
