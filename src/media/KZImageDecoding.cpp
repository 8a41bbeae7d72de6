#include "media/KZImageDecoding.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <system_error>

#include <dlfcn.h>

namespace fs = std::filesystem;

namespace kzmedia {

namespace {

std::atomic<ImageDecodeFn>& installed()
{
    static std::atomic<ImageDecodeFn> decode{nullptr};
    return decode;
}

ImageDecodeFn moduleBesideExecutable()
{
    std::error_code ec;
    const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        std::fprintf(stderr, "maravex: pictures are compared by their bytes: the program's folder is unknown (%s)\n",
                     ec.message().c_str());
        return nullptr;
    }
    std::string error;
    ImageDecodeFn decode = loadImageDecoder(executable.parent_path() / kImageDecoderModuleName, &error);
    if (!decode)
        std::fprintf(stderr, "maravex: pictures are compared by their bytes: %s\n", error.c_str());
    return decode;
}

} // namespace

void installImageDecoder(ImageDecodeFn decode)
{
    installed().store(decode);
}

ImageDecodeFn imageDecoder()
{
    if (ImageDecodeFn decode = installed().load())
        return decode;
    // Loaded once for the process, also when it fails: a missing module is
    // reported once, not for every picture.
    static const ImageDecodeFn loaded = moduleBesideExecutable();
    return loaded;
}

ImageDecodeFn loadImageDecoder(const fs::path& file, std::string* error)
{
    // Never unloaded: the decoder may be in use on any thread until exit.
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error)
            *error = ::dlerror();
        return nullptr;
    }
    void* entry = ::dlsym(handle, kImageDecoderEntryPoint);
    if (!entry) {
        if (error)
            *error = file.native() + ": no " + kImageDecoderEntryPoint;
        return nullptr;
    }
    return reinterpret_cast<ImageDecodeFn>(entry);
}

} // namespace kzmedia
