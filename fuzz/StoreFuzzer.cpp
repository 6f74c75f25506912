// The reader of a run store: the input is written to a file, which then goes through every
// check and decoder that opening a store for a resume or for reuse applies.
//
// Contracts beyond "no crash": a damaged file ends in the program's own exception, and
// reading never changes the file nor creates one beside it.
#include "FuzzSupport.h"

#include "common/Exception.h"
#include "store/RunStore.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace zyl;

namespace {

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void removeStore(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        std::filesystem::remove(path + suffix);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("zyl-fuzz-store-" + std::to_string(::getpid()) + ".zyl"))
                                        .string();
    removeStore(path);
    const std::string bytes(fuzz::asText(data, size));
    std::ofstream(path, std::ios::binary) << bytes;
    try {
        inspectRunStore(path);
    } catch (const Exception&) {
    }
    FUZZ_CHECK(bytesOf(path) == bytes, "reading changed the store file");
    FUZZ_CHECK(!std::filesystem::exists(path + "-wal") && !std::filesystem::exists(path + "-shm"),
               "reading left a file beside the store");
    removeStore(path);
    return 0;
}
