// The conversion task list: one row per source file, in the order of adding,
// duplicates allowed. Every file enters through AddFile; folders are searched
// flat or recursively, as the user's answer or the options say.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv::app {

class SettingsStore;

struct TaskRow {
    std::string fileName;           // name with extension
    std::string folder;             // no trailing '/' except for the root "/"
    std::string sizeText;           // "2KB"; "0KB" when the file cannot be opened
    std::string format;             // extension without the dot, upper case: "MP3", "WAVE"
    std::string destinationFormat;  // advanced mode's per-file format; empty when added
    // The folder the user added that found this file (no trailing '/'
    // except the root); empty for a file added on its own.
    std::string baseFolder;

    // folder + '/' (unless it ends in one) + fileName.
    std::string Path() const;
};

// size / 1024 rounded to the nearest integer, ties to even, + "KB":
// 512 bytes "0KB", 1535 "1KB", 1536 "2KB".
std::string SizeText(std::uint64_t bytes);

// The kilobytes of a size text: the text without its last two characters
// read as an integer; 0 when that is not a number.
long long SizeTextKilobytes(const std::string& sizeText);

// True for .wav, .wave, .mp3, .wma, .ogg and .oga in any letter case.
bool IsSupportedSource(const std::string& fileName);

// The same set as a file-name mask, and the filter of the "Add Files"
// dialog (pairs of caption and mask, separated by '|'). ".oga" is the
// audio-only name of an Ogg file and listed with ".ogg".
inline constexpr char kSupportedSourceMask[] = "*.wav;*.wave;*.mp3;*.wma;*.ogg;*.oga";
inline constexpr char kAddFilesFilter[] =
    "All support files (*.wav,*.mp3,*.wma,*.ogg)|*.wav;*.wave;*.mp3;*.wma;*.ogg;*.oga|WAV Files (*.wav)|*.wav;*.wave|"
    "MP3 Files (*.mp3)|*.mp3|WMA Files (*.wma)|*.wma|OGG Files (*.ogg)|*.ogg;*.oga";

// What the list needs from whoever shows it: messages, the sub-folder
// question, a chance to keep the interface alive between files, and the
// cancel flag of a running search.
class TaskListHost {
public:
    virtual ~TaskListHost() = default;
    // A message with an OK button ("Information").
    virtual void Inform(const std::string& text, const std::string& caption) = 0;
    // The query dialog: true for "Yes".
    virtual bool Ask(const std::string& question, const std::string& caption) = 0;
    // Called between files of a search (process window messages).
    virtual void ProcessEvents() {}
    // Set by the user's "Cancel" during a search.
    virtual bool SearchCancelled() { return false; }
    // The folder being searched (the searching panel).
    virtual void SearchingFolder(const std::string& /*folder*/) {}
};

class TaskList {
public:
    // Appends a row for the file; false (and nothing shown) when no file
    // exists at the path. A file that cannot be opened is added with "0KB"
    // after a message.
    bool AddFile(const std::string& path, TaskListHost& host);

    // Adds the supported files of a folder. With sub-folders the search is
    // recursive when the user says so (Advanced/ShowQuery set: the question
    // "Do you want to add all files in sub-folders?"; else Advanced/AlwaysYes);
    // `recursive`, when given, decides without asking. Returns the number of
    // rows added; a cancelled search keeps the rows added so far.
    enum class Recursion { Ask, Yes, No };
    int AddFolder(const std::string& folder, TaskListHost& host, const SettingsStore& settings,
                  Recursion recursion = Recursion::Ask);

    // Deletes the rows at the given indices (any order, duplicates ignored).
    void Remove(std::vector<std::size_t> indices);
    void Clear() { rows_.clear(); }

    const std::vector<TaskRow>& rows() const { return rows_; }
    std::vector<TaskRow>& rows() { return rows_; }
    std::size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }

private:
    std::vector<TaskRow> rows_;
};

// Task files (".otk"): one full source path per line, lines ended by
// "\r\n", the last included; an empty list gives an empty file. Writing
// replaces the whole file. Returns an error text, empty on success.
std::string SaveTaskFile(const std::string& path, const TaskList& list);
// Appends the files the lines name (a CR, an LF or both end a line); lines
// naming no existing file are passed over silently. Returns an error text,
// empty on success (the list is then unchanged).
std::string LoadTaskFile(const std::string& path, TaskList& list, TaskListHost& host);

}  // namespace kiv::app
