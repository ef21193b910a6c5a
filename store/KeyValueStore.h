// A small persistent dictionary of text keys and values, kept as "KEY=VALUE" lines. Every device
// directory of the store has one (its ".settings" file).
#pragma once

#include <map>
#include <string>

class KeyValueStore {
  public:
    static const char* const DEFAULT_FILENAME;
    static const char* const KEY_CREATED_TIME;
    static const char* const KEY_UPDATED_TIME;

    // An empty store; with a path, Load(path).
    explicit KeyValueStore(const char* path = nullptr);

    // Adds the file's entries (the store is not emptied first). A file that cannot be opened is
    // created holding CREATED_TIME and UPDATED_TIME.
    void Load(const char* path);
    // Load without creating: an absent file gives an empty store and writes nothing.
    void LoadIfPresent(const char* path);
    // Writes every entry in key order to path, or to the file last loaded or saved. Failures are
    // logged only.
    void Save(const char* path = nullptr);

    // The value's text, or null when the key is absent.
    const char* operator[](const char* key) const;

    // The numeric getters add an absent key with an empty value (without marking the store
    // changed), so that a later Save lists it; an empty or absent value gives the default.
    int GetInt(const char* key, int defaultValue);
    unsigned GetHex(const char* key, unsigned defaultValue);
    bool GetBOOL(const char* key, bool defaultValue);
    double GetDouble(const char* key, double defaultValue);
    // The value when present (even empty), else defaultValue (empty for null). Never adds a key.
    std::string GetString(const char* key, const char* defaultValue) const;

    bool Add(const char* key, int value);
    bool Add(const char* key, double value);
    bool Add(const char* key, const char* value);
    bool Add(const char* key, const std::string& value);
    bool AddHex(const char* key, unsigned value);
    // Copies every entry of other, replacing equal keys.
    bool Add(const KeyValueStore& other);
    bool Clear();

    bool IsChanged() const { return changed_; }
    const std::string& FileName() const { return fileName_; }
    const std::map<std::string, std::string>& Entries() const { return entries_; }

  private:
    std::string* valueWithInsertion(const char* key);
    void parse(struct qFile* file);

    std::string fileName_;
    std::map<std::string, std::string> entries_;
    bool changed_ = false;
};

// The local time in ctime form without its trailing newline, as stored in settings files.
std::string KeyValueStore_TimeStamp();
