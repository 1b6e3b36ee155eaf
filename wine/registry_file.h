// Reads string values out of a Wine prefix's system.reg, the text file in
// which wineserver keeps HKEY_LOCAL_MACHINE, as a 32-bit Windows program
// running in that prefix would read them.
#ifndef SAVEFIX_WINE_REGISTRY_FILE_H
#define SAVEFIX_WINE_REGISTRY_FILE_H

#include <cstddef>
#include <string>

enum class WineRegistryLookup {
  kFound,      // `data` holds the value
  kMalformed,  // Wine takes no key from the text: it is no registry file
  kNoKey,      // the key is not in the 32-bit view
  kNoValue,    // the key has no such value
  kNotString,  // the value is not a string (dword, binary, multi-string...)
};

// Looks up `value_name` ("" for the default value) of `key_path` (relative to
// HKEY_LOCAL_MACHINE, components separated by '\\', both UTF-8) in the 32-bit
// view of the system.reg text `text` (`size` bytes). Names compare without
// regard to case. On kFound, `data` holds the bytes a 32-bit program's
// RegQueryValueExA puts in its buffer and counts in its size, in UTF-8
// instead of the ANSI code page: the string's terminator is among them only
// when the stored data has one. Otherwise `data` is emptied.
WineRegistryLookup FindWineRegistryString(const char* text, std::size_t size, const char* key_path,
                                          const char* value_name, std::string* data);

// The same lookup in the file open on `descriptor` (a regular file, read
// from its start into `text`, whose room is kept, so that the prefixes of a
// library are read into the same room, mapped and grown once). A file longer
// than `limit` bytes, or one that cannot be read, is kMalformed, as no
// registry is taken from it.
WineRegistryLookup ReadWineRegistryString(int descriptor, std::size_t limit, const char* key_path,
                                          const char* value_name, std::string* text, std::string* data);

#endif
