// Skins: style-sheet files with a short header, the list the options
// dialog shows, and the rules of applying, previewing and reverting one.
//
// A skin file (".skn") is a Qt style sheet whose first lines are comments
// naming the format version and the skin:
//     /* ondalo-skin 1 */
//     /* name: macos */
// A file is refused when the header is missing, names another version,
// or the sheet is broken (an open comment, string or block, a NUL byte,
// text that is not UTF-8, or a size beyond any real skin), so a damaged
// or foreign file never reaches the toolkit half-understood.
#pragma once

#include <string>
#include <vector>

namespace kiv::app {

constexpr int kSkinFormatVersion = 1;
// "None": no skin; the list's first item.
constexpr const char* kNoSkin = "None";

struct SkinSheet {
    std::string name;        // from the header
    std::string styleSheet;  // the whole file, header included (comments are harmless)
};

// Parses a skin file's text; false with `error` set when it is refused.
bool ParseSkin(const std::string& text, SkinSheet& sheet, std::string& error);
// Reads and parses a file; false with `error` set when it cannot be read or is refused.
bool LoadSkinFile(const std::string& path, SkinSheet& sheet, std::string& error);

// The skins of the shipped folder and of the user's folder, seen as one.
class SkinCatalog {
public:
    SkinCatalog(std::string sharedFolder, std::string userFolder);

    // "None", then one item per file of either folder (whatever its
    // extension), named up to its first '.', without repeats, sorted
    // without regard to case.
    std::vector<std::string> List() const;
    // The file that applying `item` uses: item + ".skn" in the user's folder
    // when it is there, else in the shipped folder (which may not exist).
    std::string PathOf(const std::string& item) const;
    // Copies each existing file into the user's folder under its own name,
    // never over a file already there. Returns how many were copied.
    int Import(const std::vector<std::string>& files) const;
    // Copies the item's file to `destination`, never over an existing file.
    bool Export(const std::string& item, const std::string& destination) const;
    // Deletes the item's file; false when it could not be deleted.
    bool Delete(const std::string& item) const;

    const std::string& userFolder() const { return user_; }

private:
    std::string shared_, user_;
};

// What shows a skin: the toolkit's side.
class SkinEngine {
public:
    virtual ~SkinEngine() = default;
    // Loads a skin file; false (the engine keeping what it had) when the
    // file is refused.
    virtual bool LoadSkin(const std::string& path) = 0;
    virtual void Activate() = 0;
    virtual void Deactivate() = 0;
    // The file last loaded; empty before any.
    virtual std::string LoadedFile() const = 0;
    virtual bool Active() const = 0;
};

// The options dialog's skin rules over an engine: the current skin name
// (the one last applied from the file or confirmed), previews that leave
// it alone, and the revert when the dialog closes.
class SkinSelection {
public:
    SkinSelection(SkinEngine& engine, const SkinCatalog& catalog) : engine_(engine), catalog_(catalog) {}

    // Skin/Skin as read when the options are loaded: a skin other than the
    // current one is loaded when its file exists; "None" deactivates.
    void ApplySaved(const std::string& value);
    // Shows an item without making it current; nothing to do when it is
    // the skin shown now.
    void Preview(const std::string& item);
    // Makes an item current and applies it ("&OK").
    void Confirm(const std::string& item);
    // Applies the current skin again (the dialog closes), undoing a preview.
    void Reapply();

    const std::string& current() const { return current_; }

private:
    void Apply(const std::string& item);

    SkinEngine& engine_;
    const SkinCatalog& catalog_;
    std::string current_;
};

}  // namespace kiv::app
