#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <limits>

#include "io_test_support.hpp"
#include "vemo/io/npz.hpp"

using vemo::detail::loadNpz;
using vemo::detail::NpyArray;
using vemo::detail::readNpzMember;
using vemo::detail::saveNpz;
using vemo::testing::fileBytes;
using vemo::testing::writeBytes;

namespace {

std::uint32_t le32(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}
std::uint32_t le16(const std::string& bytes, std::size_t offset) {
  return static_cast<unsigned char>(bytes[offset]) | (static_cast<unsigned char>(bytes[offset + 1]) << 8);
}
void put(std::string& out, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string values(const std::vector<double>& data) {
  return std::string(reinterpret_cast<const char*>(data.data()), 8 * data.size());
}

// A .npy member with the given header text (taken as is) and payload.
std::string npy(const std::string& header, const std::string& payload, int major = 1) {
  std::string blob = "\x93NUMPY";
  blob += static_cast<char>(major);
  blob += '\0';
  put(blob, static_cast<std::uint32_t>(header.size()), major >= 2 ? 4 : 2);
  return blob + header + payload;
}

std::string f8Header(const std::string& shape) {
  return "{'descr': '<f8', 'fortran_order': False, 'shape': " + shape + ", }\n";
}

std::string rawDeflate(const std::string& data) {
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

struct Member {
  std::string name;
  std::string blob;
  int method = 0;  // 0 stored, 8 deflate
};

// A ZIP archive written independently of the library: local headers with a non-empty
// extra field (the reader must skip it), then the central directory and the end record.
std::string zipArchive(const std::vector<Member>& members) {
  std::string zip, directory;
  for (const Member& member : members) {
    const std::string data = member.method == 8 ? rawDeflate(member.blob) : member.blob;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(member.blob.data()), static_cast<uInt>(member.blob.size())));
    const auto offset = static_cast<std::uint32_t>(zip.size());
    const std::string extra = "\x01\x00\x00\x00";
    put(zip, 0x04034B50, 4);
    put(zip, 20, 2), put(zip, 0, 2), put(zip, member.method, 2), put(zip, 0, 4);
    put(zip, crc, 4), put(zip, data.size(), 4), put(zip, member.blob.size(), 4);
    put(zip, member.name.size(), 2), put(zip, extra.size(), 2);
    zip += member.name + extra + data;
    put(directory, 0x02014B50, 4);
    put(directory, 20, 2), put(directory, 20, 2), put(directory, 0, 2), put(directory, member.method, 2);
    put(directory, 0, 4), put(directory, crc, 4), put(directory, data.size(), 4), put(directory, member.blob.size(), 4);
    put(directory, member.name.size(), 2), put(directory, 0, 2), put(directory, 0, 2);
    put(directory, 0, 2), put(directory, 0, 2), put(directory, 0, 4), put(directory, offset, 4);
    directory += member.name;
  }
  const auto directory_offset = static_cast<std::uint32_t>(zip.size());
  zip += directory;
  put(zip, 0x06054B50, 4);
  put(zip, 0, 2), put(zip, 0, 2), put(zip, members.size(), 2), put(zip, members.size(), 2);
  put(zip, directory.size(), 4), put(zip, directory_offset, 4), put(zip, 0, 2);
  return zip;
}

std::string oneMember(const std::string& blob, int method = 0) { return zipArchive({{"a.npy", blob, method}}); }

std::string readError(const std::string& archive, const std::string& key = "a") {
  return VEMO_THROWN_MESSAGE(std::runtime_error, readNpzMember(archive, key));
}

std::vector<double> ramp(std::size_t count) {
  std::vector<double> data(count);
  for (std::size_t i = 0; i < count; ++i) data[i] = 0.5 * static_cast<double>(i) - 3.0;
  return data;
}

class Npz : public vemo::testing::ScratchDirectory {};

}  // namespace

TEST_F(Npz, PoseArchiveHasTheDocumentedByteLayout) {
  const std::string path = (dir_ / "poses.npz").string();
  saveNpz(path, "robot_T_tcp_list", {2, 4, 4}, ramp(32));
  const std::string zip = fileBytes(path);
  ASSERT_EQ(zip.size(), 522u);

  // Local header, name, then the 384-byte .npy blob whose values start at blob offset 128.
  EXPECT_EQ(le32(zip, 0), 0x04034B50u);
  EXPECT_EQ(le16(zip, 4), 20u);
  EXPECT_EQ(le16(zip, 6), 0u);
  EXPECT_EQ(le16(zip, 8), 0u);
  EXPECT_EQ(le16(zip, 10), 0u);
  EXPECT_EQ(le16(zip, 12), 0x0021u);
  const std::string blob = zip.substr(50, 384);
  EXPECT_EQ(le32(zip, 14), static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(blob.data()), 384)));
  EXPECT_EQ(le32(zip, 18), 384u);
  EXPECT_EQ(le32(zip, 22), 384u);
  EXPECT_EQ(le16(zip, 26), 20u);
  EXPECT_EQ(le16(zip, 28), 0u);
  EXPECT_EQ(zip.substr(30, 20), "robot_T_tcp_list.npy");
  EXPECT_EQ(blob.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
  EXPECT_EQ(le16(blob, 8), 118u);
  EXPECT_EQ(blob.substr(10, 118),
            "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 4, 4), }" + std::string(55, ' ') + "\n");
  EXPECT_EQ(blob.substr(128), values(ramp(32)));

  // Central directory at 434, end record at 500.
  EXPECT_EQ(le32(zip, 434), 0x02014B50u);
  EXPECT_EQ(zip.substr(434 + 4, 12), std::string("\x14\x00\x14\x00\x00\x00\x00\x00\x00\x00\x21\x00", 12));
  EXPECT_EQ(zip.substr(434 + 16, 12), zip.substr(14, 12));  // CRC and both sizes
  EXPECT_EQ(zip.substr(434 + 28, 18), std::string("\x14\x00", 2) + std::string(16, '\0'));
  EXPECT_EQ(zip.substr(434 + 46, 20), "robot_T_tcp_list.npy");
  EXPECT_EQ(zip.substr(500), std::string("PK\x05\x06\0\0\0\0\x01\x00\x01\x00\x42\0\0\0\xb2\x01\0\0\0\0", 22));
}

TEST_F(Npz, HeaderIsPaddedSoThatValuesStartOnA64ByteBoundary) {
  struct Case {
    std::vector<std::uint64_t> shape;
    std::string tuple;
    std::size_t spaces;
  };
  std::vector<std::uint64_t> twenty_one(20, 1);
  twenty_one.push_back(10);
  std::string twenty_one_text = "(";
  for (int i = 0; i < 20; ++i) twenty_one_text += "1, ";
  twenty_one_text += "10)";
  const std::vector<Case> cases{
      {{5}, "(5, )", 59}, {{3, 4, 4}, "(3, 4, 4)", 55}, {{1000, 4, 4}, "(1000, 4, 4)", 52},
      {{}, "()", 62},     {{0, 4, 4}, "(0, 4, 4)", 55}, {twenty_one, twenty_one_text, 0}};
  for (const Case& c : cases) {
    std::uint64_t count = 1;
    for (const auto d : c.shape) count *= d;
    const std::string path = (dir_ / "a.npz").string();
    saveNpz(path, "k", c.shape, ramp(count));
    const std::string blob = fileBytes(path).substr(30 + 5);
    const std::string text = "{'descr': '<f8', 'fortran_order': False, 'shape': " + c.tuple + ", }";
    const std::size_t header_length = le16(blob, 8);
    EXPECT_EQ(blob.substr(10, header_length), text + std::string(c.spaces, ' ') + "\n") << c.tuple;
    EXPECT_EQ((10 + header_length) % 64, 0u) << c.tuple;

    const NpyArray back = loadNpz(path, "k");
    EXPECT_EQ(back.shape, c.shape) << c.tuple;
    EXPECT_EQ(back.data, ramp(count)) << c.tuple;
  }
}

TEST_F(Npz, SavingReplacesAnExistingArchiveWhole) {
  const std::string path = (dir_ / "a.npz").string();
  saveNpz(path, "first_key_is_longer", {40}, ramp(40));
  saveNpz(path, "b", {1}, {7.0});
  EXPECT_EQ(fileBytes(path).size(), 98u + 2 * 5 + 128 + 8);
  EXPECT_EQ(loadNpz(path, "b").data, std::vector<double>{7.0});
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, loadNpz(path, "first_key_is_longer")),
            "npz: entry 'first_key_is_longer.npy' not found in archive");
}

TEST_F(Npz, WriterRejectsInputsItCannotStoreFaithfully) {
  const std::string path = (dir_ / "a.npz").string();
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::invalid_argument, saveNpz(path, "k", {2, 4, 4}, ramp(31))),
            "saveNpz: shape (2, 4, 4) does not hold 31 values");
  // A shape whose element count overflows must not pass as matching an empty array.
  const std::uint64_t big = std::uint64_t{1} << 32;
  EXPECT_THROW(saveNpz(path, "k", {big, big}, {}), std::invalid_argument);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, saveNpz((dir_ / "no" / "a.npz").string(), "k", {}, {1.0})),
            "npz: cannot open " + (dir_ / "no" / "a.npz").string() + " for writing");
}

TEST_F(Npz, ReadsMembersWrittenByOtherToolsStoredOrDeflated) {
  const std::vector<double> data = ramp(48);
  const std::string blob = npy(f8Header("(3, 4, 4)") , values(data));
  for (int method : {0, 8}) {
    const std::string archive = zipArchive({{"other.npy", npy(f8Header("(2,)"), values({1, 2})), method},
                                            {"a.npy", blob, method},
                                            {"a.npy.npy", npy(f8Header("()"), values({9})), method}});
    const NpyArray array = readNpzMember(archive, "a");
    EXPECT_EQ(array.shape, (std::vector<std::uint64_t>{3, 4, 4}));
    EXPECT_EQ(array.data, data);
    EXPECT_EQ(readNpzMember(archive, "other").shape, std::vector<std::uint64_t>{2});
    EXPECT_EQ(readError(archive, "A"), "npz: entry 'A.npy' not found in archive");
  }
  // Format versions 2 and 3 carry a 32-bit header length.
  for (int major : {2, 3}) {
    std::string header = f8Header("(2, 2)");
    header.insert(header.size() - 1, std::string(12 - (12 + header.size()) % 64 + 64, ' '));
    EXPECT_EQ(readNpzMember(oneMember(npy(header, values({1, 2, 3, 4}), major)), "a").data,
              (std::vector<double>{1, 2, 3, 4}));
  }
  // Value bytes beyond what the shape needs are ignored; a comment after the end record is skipped.
  std::string archive = oneMember(npy(f8Header("(3, 4, 4)"), values(ramp(49))));
  archive[archive.size() - 2] = '\xff', archive[archive.size() - 1] = '\xff';
  EXPECT_EQ(readNpzMember(archive + std::string(65535, 'c'), "a").data, ramp(48));
}

TEST_F(Npz, HeaderTextChecksFollowTheNpyDictionary) {
  auto shapeOf = [](const std::string& header, const std::string& payload) {
    return readNpzMember(oneMember(npy(header, payload)), "a").shape;
  };
  EXPECT_EQ(shapeOf("{'descr': '<f8', 'fortran_order': False, 'shape': (3,), }\n", values(ramp(3))),
            std::vector<std::uint64_t>{3});
  // A True belonging to a later key does not make the array Fortran-ordered.
  EXPECT_EQ(shapeOf("{'descr': '<f8', 'fortran_order': False, 'shape': ( 2 ,\t1 ), 'x': True}\n", values(ramp(2))),
            (std::vector<std::uint64_t>{2, 1}));

  const std::string descr = "npz: only little-endian float64 (\"<f8\") arrays are supported";
  EXPECT_EQ(readError(oneMember(npy("{'descr': '>f8', 'shape': (1,)}", values({1})))), descr);
  EXPECT_EQ(readError(oneMember(npy("{'descr': '<f4', 'shape': (1,)}", values({1})))), descr);
  EXPECT_EQ(readError(oneMember(npy("{'descr':'<f8', 'shape': (1,)}", values({1})))), descr);
  EXPECT_EQ(readError(oneMember(npy("{'descr': '<f8', 'fortran_order': True, 'shape': (1,)}", values({1})))),
            "npz: fortran-order arrays are not supported");
  EXPECT_EQ(readError(oneMember(npy("{'descr': '<f8', 'fortran_order': False}", values({1})))),
            "npz: missing 'shape' in npy header");
  EXPECT_EQ(readError(oneMember(npy("{'descr': '<f8', 'shape': 1,)}", values({1})))),
            "npz: malformed 'shape' tuple in npy header");
  EXPECT_EQ(readError(oneMember(npy("{'descr': '<f8', 'shape': (1,}", values({1})))),
            "npz: malformed 'shape' tuple in npy header");

  const std::string shorter = "npz: .npy data shorter than shape implies";
  EXPECT_EQ(readError(oneMember(npy(f8Header("(3, 4, 4)"), values(ramp(47))))), shorter);
  // 2^32 * 2^32 * 2 elements overflow 64 bits; a wrapped product must not pass.
  EXPECT_EQ(readError(oneMember(npy(f8Header("(4294967296, 4294967296, 2)"), values(ramp(1))))), shorter);
  EXPECT_EQ(readError(oneMember(npy(f8Header("(2305843009213693952,)"), values(ramp(1))))), shorter);

  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::invalid_argument, readNpzMember(oneMember(npy(f8Header("(x, 2)"), "")), "a")),
            "stoull: npz: shape part \"x\" in npy header is not a number");
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::out_of_range,
                                readNpzMember(oneMember(npy(f8Header("(18446744073709551616,)"), "")), "a")),
            "stoull: npz: shape part 18446744073709551616 in npy header does not fit 64 bits");
}

TEST_F(Npz, CorruptArchivesAreRejectedWithTheirCause) {
  const std::string blob = npy(f8Header("(2,)"), values({1, 2}));
  const std::string good = oneMember(blob);
  const std::size_t directory = le32(good, good.size() - 6);
  auto patched = [&](std::size_t offset, std::uint32_t value, int width) {
    std::string copy = good;
    std::string bytes;
    put(bytes, value, width);
    copy.replace(offset, width, bytes);
    return copy;
  };

  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, loadNpz((dir_ / "missing.npz").string(), "a")),
            "npz: cannot open " + (dir_ / "missing.npz").string() + " for reading");
  const std::string no_end = "npz: not a valid ZIP archive (no EOCD record)";
  EXPECT_EQ(readError(""), no_end);
  EXPECT_EQ(readError(good.substr(good.size() - 21)), no_end);
  EXPECT_EQ(readError(good + std::string(67563, 'c')), no_end);
  EXPECT_EQ(readNpzMember(good + std::string(67562, 'c'), "a").data, (std::vector<double>{1, 2}));

  const std::string directory_error = "npz: malformed ZIP central directory";
  EXPECT_EQ(readError(patched(good.size() - 6, static_cast<std::uint32_t>(good.size()), 4)), directory_error);
  EXPECT_EQ(readError(patched(directory, 0x02014B51, 4)), directory_error);
  EXPECT_EQ(readError(patched(directory + 28, 60000, 2)), directory_error);  // name runs past the end
  EXPECT_EQ(readError(patched(good.size() - 12, 2, 2), "b"), directory_error);  // a second record past the end
  EXPECT_EQ(readError(patched(good.size() - 12, 0, 2)), "npz: entry 'a.npy' not found in archive");

  EXPECT_EQ(readError(patched(directory + 42, static_cast<std::uint32_t>(good.size() - 29), 4)),
            "npz: malformed ZIP local file header");
  EXPECT_EQ(readError(patched(0, 0x04034B51, 4)), "npz: malformed ZIP local file header");
  EXPECT_EQ(readError(patched(directory + 20, 0xFFFFFFFF, 4)), "npz: ZIP entry data runs past end of file");
  EXPECT_EQ(readError(patched(26, 0xFFFF, 2)), "npz: ZIP entry data runs past end of file");
  EXPECT_EQ(readError(patched(directory + 10, 12, 2)), "npz: unsupported ZIP compression method 12");

  EXPECT_EQ(readError(patched(directory + 10, 8, 2)), "npz: zlib inflate failed on entry");
  const std::string deflated = oneMember(blob, 8);
  const std::size_t deflated_directory = le32(deflated, deflated.size() - 6);
  std::string longer = deflated;
  longer[deflated_directory + 24] = static_cast<char>(blob.size() + 1);  // stream ends short of the size
  EXPECT_EQ(readError(longer), "npz: zlib inflate failed on entry");

  std::string flipped = good;
  flipped[flipped.find(values({1, 2}))] ^= 1;
  EXPECT_EQ(readError(flipped).rfind("npz: CRC-32 mismatch", 0), 0u);
  std::string flipped_crc = deflated;
  flipped_crc[deflated_directory + 16] ^= 1;
  EXPECT_EQ(readError(flipped_crc).rfind("npz: CRC-32 mismatch", 0), 0u);

  const std::string invalid = "npz: not a valid .npy blob";
  EXPECT_EQ(readError(oneMember("")), invalid);
  EXPECT_EQ(readError(oneMember("\x93NUMPY\x01\x00\x00")), invalid);
  EXPECT_EQ(readError(oneMember("\x93NUMPX\x01\x00\x00\x00\x00\x00")), invalid);
  EXPECT_EQ(readError(oneMember(std::string("\x93NUMPY\x02\x00\x00\x00\x00", 11))), "npz: truncated .npy header");
  EXPECT_EQ(readError(oneMember(std::string("\x93NUMPY\x01\x00\x40\x00{'descr'", 18))),
            "npz: truncated .npy header dict");
  EXPECT_EQ(readError(oneMember(std::string("\x93NUMPY\x03\x00\x00\x00\x00\x01", 12))),
            "npz: truncated .npy header dict");
}
