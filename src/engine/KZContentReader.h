#pragma once

#include <QtGlobal>

#include <cstddef>
#include <filesystem>
#include <memory>

// Where content comparisons get their bytes. The default reads the file
// system; a test can count the reads or make a file fail part-way.
class KZContentReader {
public:
    // One file opened for a comparison; closed when the object goes away.
    class File {
    public:
        virtual ~File() = default;
        virtual quint64 length() const = 0;
        // Reads up to `count` bytes at `offset`; answers the number read, or
        // -1 on an error.
        virtual qint64 readAt(quint64 offset, char* buffer, std::size_t count) = 0;
    };

    virtual ~KZContentReader() = default;

    // Null when the item cannot be read as a regular file. Symbolic links,
    // pipes and devices are refused without being opened for data: a pipe
    // would block the search until somebody writes to it.
    virtual std::unique_ptr<File> open(const std::filesystem::path& path) = 0;

    // Bytes the file-system reader has read since the program started.
    static quint64 totalBytesRead();

    static KZContentReader& fileSystem();
};
