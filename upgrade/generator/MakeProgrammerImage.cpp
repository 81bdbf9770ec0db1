// Build-time tool: writes the flash programmer image the library embeds, as a
// binary file (for a resource compiler) and as a C++ source that registers
// the bytes as resource "BIN" 102.
//
//   fwup_make_programmer <out.bin> <out.cpp> [real-image]
//
// Without a real image it writes a deterministic stand-in of 177,376 bytes
// with the programmer's layout: a 40-byte header of ten little-endian words,
// the code, a 256-byte signature and a 1,202-byte certificate chain.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr uint32_t kImageSize = 177376;
constexpr uint32_t kHeaderSize = 40;
constexpr uint32_t kSignatureSize = 256;
constexpr uint32_t kCertChainSize = 1202;
constexpr uint32_t kLoadAddress = 0x00500000;
constexpr uint32_t kCodeAddress = kLoadAddress + kHeaderSize;   // 0x00500028

void PutLe32(std::vector<uint8_t>& image, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) image[at + i] = uint8_t(value >> (8 * i));
}

// A fixed linear congruential sequence keeps the stand-in identical on every build.
void FillPseudoRandom(std::vector<uint8_t>& image, size_t from, size_t count, uint32_t seed) {
    uint32_t state = seed;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        image[from + i] = uint8_t(state >> 24);
    }
}

std::vector<uint8_t> StandIn() {
    std::vector<uint8_t> image(kImageSize, 0);
    const uint32_t codeSize = kImageSize - kHeaderSize - kSignatureSize - kCertChainSize;
    const uint32_t signatureAddress = kCodeAddress + codeSize;
    const uint32_t certAddress = signatureAddress + kSignatureSize;
    const uint32_t header[10] = {
        0x00000009,                    // image id
        0x00000003,                    // header version
        kCodeAddress,                  // image source
        kCodeAddress,                  // image destination
        kImageSize - kHeaderSize,      // image size: code, signature and certificates
        codeSize,                      // code size
        signatureAddress, kSignatureSize, certAddress, kCertChainSize,
    };
    for (int i = 0; i < 10; ++i) PutLe32(image, size_t(i) * 4, header[i]);
    FillPseudoRandom(image, kHeaderSize, codeSize, 0x7627u);
    FillPseudoRandom(image, kHeaderSize + codeSize, kSignatureSize, 0x5160u);
    FillPseudoRandom(image, kHeaderSize + codeSize + kSignatureSize, kCertChainSize, 0xCE47u);
    return image;
}

bool WriteSource(const char* path, const std::vector<uint8_t>& image) {
    std::FILE* out = std::fopen(path, "w");
    if (!out) return false;
    std::fprintf(out,
                 "// Generated at build time from the flash programmer image. Do not edit.\n"
                 "#include \"platform/Platform.h\"\n"
                 "#include \"upgrade/flashing/ProgrammerResource.h\"\n\n"
                 "namespace upgrade {\n"
                 "#ifndef _WIN32\n"
                 "namespace {\n"
                 "const uint8_t kProgrammerImage[%zu] = {\n",
                 image.size() == 0 ? size_t(1) : image.size());
    for (size_t i = 0; i < image.size(); ++i)
        std::fprintf(out, "%u,%s", unsigned(image[i]), (i % 24 == 23) ? "\n" : "");
    if (image.empty()) std::fprintf(out, "0");
    std::fprintf(out,
                 "};\n"
                 "}  // namespace\n"
                 "void RegisterProgrammerResource() {\n"
                 "    platform::RegisterEmbeddedResource(kProgrammerResourceType, kProgrammerResourceId,\n"
                 "                                       kProgrammerImage, %zuu);\n"
                 "}\n"
                 "#else\n"
                 "// The Windows build carries the image in the resource section.\n"
                 "void RegisterProgrammerResource() {}\n"
                 "#endif\n"
                 "}  // namespace upgrade\n",
                 image.size());
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s <out.bin> <out.cpp> [real-image]\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> image;
    if (argc == 4) {
        std::ifstream in(argv[3], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", argv[3]);
            return 1;
        }
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        image = StandIn();
    }
    std::ofstream bin(argv[1], std::ios::binary | std::ios::trunc);
    bin.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    bin.close();
    if (!bin) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    if (!WriteSource(argv[2], image)) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
