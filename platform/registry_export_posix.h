// Reads string values out of the text of a registry export file, the format
// regedit writes. The POSIX build keeps HKEY_LOCAL_MACHINE in such a file.
#ifndef SAVEFIX_PLATFORM_REGISTRY_EXPORT_POSIX_H
#define SAVEFIX_PLATFORM_REGISTRY_EXPORT_POSIX_H

#include <cstddef>

enum class ExportLookup {
  kFound,      // the string's bytes and a terminating zero are in `data`
  kMalformed,  // the text is not a well-formed export file
  kNoKey,      // no section for the key
  kNoValue,    // the key has no such value
  kNotString,  // the value is not a string (dword:, hex:, hex(N): other than hex(2): ...)
  kTooLong,    // the string and its terminator do not fit in `capacity` bytes
};

// Looks up value `value_name` of key `key_path` (for example
// "HKEY_LOCAL_MACHINE\\SOFTWARE\\Maker\\Game") in the `size` bytes at `text`.
// Key and value names match without regard to ASCII case; "" names the
// default value (@=). The whole text is checked, so a fault anywhere makes the
// lookup kMalformed, and so does a zero byte anywhere. On kFound, `*data_size`
// is the number of bytes written, terminator included, and the string holds no
// zero byte before its terminator. Otherwise `*data_size` is 0 and `data` is
// left untouched.
ExportLookup FindExportedString(const char* text, std::size_t size, const char* key_path,
                                const char* value_name, char* data, std::size_t capacity,
                                std::size_t* data_size);

#endif
