#pragma once
// A workbook's bytes as its reader asks for them: a file read at chosen offsets, parts
// at a time, or bytes already in memory (standard input, tests, fuzzers). Package
// readers (ZIP, compound file) take the directory and the members they read; readers of
// formats parsed from end to end take the whole content.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vellumcast::spreadsheet {

class FileBytes {
public:
    virtual ~FileBytes() = default;

    virtual uint64_t Size() const = 0;

    // The size bytes from offset, which lie inside Size(): a view of the memory the bytes
    // are held in, or else read into scratch (the view lasts until scratch changes).
    // Safe from several threads with a scratch each. Throws SpreadsheetError(Corrupt)
    // when the file no longer holds them, as one that another program shortened does.
    virtual std::span<const uint8_t> Read(uint64_t offset, size_t size, std::vector<uint8_t>& scratch) const = 0;

    // The whole content, read when first asked for and kept. Throws as Read.
    virtual std::span<const uint8_t> Bytes() const = 0;

    // Opens the file, reading nothing yet. Throws SpreadsheetError: NotFound, NotAFile for
    // anything but a regular file (checked without blocking).
    static std::shared_ptr<const FileBytes> OpenFile(const std::string& path);
    static std::shared_ptr<const FileBytes> FromBuffer(std::string bytes);
    // Bytes that the caller keeps alive as long as the result.
    static std::shared_ptr<const FileBytes> View(std::span<const uint8_t> bytes);
    // Bytes that owner keeps alive, held by the result as long as it lives.
    static std::shared_ptr<const FileBytes> Holding(std::shared_ptr<const void> owner, std::span<const uint8_t> bytes);
};

} // namespace vellumcast::spreadsheet
