#include "vemo/io/npz.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "vemo/io/storage/whole_file.hpp"

namespace vemo::detail {

namespace {

// ---- the .npy member ----

constexpr char kNpyMagic[] = "\x93NUMPY";
constexpr std::size_t kNpyMagicLength = 6;

// The Python tuple text of a shape: "(2, 4, 4)", "(5, )" (a one-element tuple needs its
// trailing comma), "()".
std::string shapeTuple(const std::vector<std::uint64_t>& shape) {
  std::string text = "(";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(shape[i]);
  }
  if (shape.size() == 1) text += ", ";
  return text + ")";
}

// Number of elements of a shape (1 for a scalar); false when it overflows 64 bits.
bool elementCount(const std::vector<std::uint64_t>& shape, std::uint64_t& count) {
  count = 1;
  for (const std::uint64_t dimension : shape) {
    if (dimension != 0 && count > std::numeric_limits<std::uint64_t>::max() / dimension) return false;
    count *= dimension;
  }
  return true;
}

std::string npyHeaderText(const std::vector<std::uint64_t>& shape) {
  std::string text = "{'descr': '<f8', 'fortran_order': False, 'shape': " + shapeTuple(shape) + ", }";
  // Pad so that the values start at a multiple of 64 bytes into the member.
  const std::size_t length = text.size();
  const std::size_t padding = ((length + 74) & ~std::size_t{63}) - length - 11;
  text.append(padding, ' ');
  text += '\n';
  return text;
}

std::string npyBlob(const std::string& header, const std::vector<double>& data) {
  std::string blob;
  blob.reserve(header.size() + 8 * data.size() + 10);
  blob.append(kNpyMagic, kNpyMagicLength);
  blob += '\x01';
  blob += '\x00';
  blob += static_cast<char>(header.size() & 0xFF);
  blob += static_cast<char>((header.size() >> 8) & 0xFF);
  blob += header;
  blob.append(reinterpret_cast<const char*>(data.data()), 8 * data.size());
  return blob;
}

// ---- little-endian fields ----

void put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

// Callers check offset + width against the buffer size first.
std::uint32_t get16(std::string_view bytes, std::uint64_t offset) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
}

std::uint32_t get32(std::string_view bytes, std::uint64_t offset) {
  return get16(bytes, offset) | (get16(bytes, offset + 2) << 16);
}

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error("npz: " + message); }

// ---- the ZIP container ----

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
constexpr std::uint64_t kLocalHeaderSize = 30;
constexpr std::uint64_t kCentralHeaderSize = 46;
constexpr std::uint64_t kEndRecordSize = 22;
// The end record plus the longest possible archive comment, and some slack.
constexpr std::uint64_t kEndRecordSearchWindow = 67584;
constexpr std::uint32_t kDosDate1980 = 0x0021;

void putEntryFields(std::string& out, std::uint32_t crc, std::uint32_t size, std::uint32_t name_length) {
  put16(out, 0);             // general purpose flags
  put16(out, 0);             // compression method: stored
  put16(out, 0);             // modification time
  put16(out, kDosDate1980);  // modification date
  put32(out, crc);
  put32(out, size);  // compressed
  put32(out, size);  // uncompressed
  put16(out, name_length);
  put16(out, 0);  // extra field length
}

std::string zipWithOneMember(const std::string& name, const std::string& blob) {
  const auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(blob.data()), static_cast<uInt>(blob.size())));
  const auto size = static_cast<std::uint32_t>(blob.size());
  const auto name_length = static_cast<std::uint32_t>(name.size());
  std::string zip;
  zip.reserve(98 + 2 * name.size() + blob.size());

  put32(zip, kLocalHeaderSignature);
  put16(zip, 20);  // version needed to extract
  putEntryFields(zip, crc, size, name_length);
  zip += name;
  zip += blob;

  const auto directory_offset = static_cast<std::uint32_t>(zip.size());
  put32(zip, kCentralHeaderSignature);
  put16(zip, 20);  // version made by
  put16(zip, 20);  // version needed to extract
  putEntryFields(zip, crc, size, name_length);
  put16(zip, 0);  // file comment length
  put16(zip, 0);  // disk number start
  put16(zip, 0);  // internal attributes
  put32(zip, 0);  // external attributes
  put32(zip, 0);  // local header offset
  zip += name;
  const auto directory_size = static_cast<std::uint32_t>(zip.size() - directory_offset);

  put32(zip, kEndRecordSignature);
  put16(zip, 0);  // this disk
  put16(zip, 0);  // disk of the central directory
  put16(zip, 1);  // records on this disk
  put16(zip, 1);  // records in total
  put32(zip, directory_size);
  put32(zip, directory_offset);
  put16(zip, 0);  // comment length
  return zip;
}

struct DirectoryEntry {
  std::uint32_t method = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint64_t local_header_offset = 0;
};

std::uint64_t findEndRecord(std::string_view archive) {
  const std::uint64_t size = archive.size();
  if (size >= kEndRecordSize) {
    const std::uint64_t lowest = size > kEndRecordSearchWindow ? size - kEndRecordSearchWindow : 0;
    for (std::uint64_t position = size - kEndRecordSize + 1; position-- > lowest;) {
      if (get32(archive, position) == kEndRecordSignature) return position;
    }
  }
  fail("not a valid ZIP archive (no EOCD record)");
}

DirectoryEntry findDirectoryEntry(std::string_view archive, const std::string& name) {
  const std::uint64_t size = archive.size();
  const std::uint64_t end_record = findEndRecord(archive);
  const std::uint32_t records = get16(archive, end_record + 10);
  std::uint64_t offset = get32(archive, end_record + 16);
  for (std::uint32_t record = 0; record < records; ++record) {
    if (offset + kCentralHeaderSize > size || get32(archive, offset) != kCentralHeaderSignature) {
      fail("malformed ZIP central directory");
    }
    const std::uint32_t name_length = get16(archive, offset + 28);
    if (offset + kCentralHeaderSize + name_length > size) fail("malformed ZIP central directory");
    if (archive.substr(offset + kCentralHeaderSize, name_length) == name) {
      return {get16(archive, offset + 10), get32(archive, offset + 16), get32(archive, offset + 20),
              get32(archive, offset + 24), get32(archive, offset + 42)};
    }
    offset += kCentralHeaderSize + name_length + get16(archive, offset + 30) + get16(archive, offset + 32);
  }
  fail("entry '" + name + "' not found in archive");
}

std::string_view memberData(std::string_view archive, const DirectoryEntry& entry) {
  const std::uint64_t size = archive.size();
  const std::uint64_t local = entry.local_header_offset;
  if (local + kLocalHeaderSize > size || get32(archive, local) != kLocalHeaderSignature) {
    fail("malformed ZIP local file header");
  }
  const std::uint64_t start = local + kLocalHeaderSize + get16(archive, local + 26) + get16(archive, local + 28);
  if (start + entry.compressed_size > size) fail("ZIP entry data runs past end of file");
  return archive.substr(start, entry.compressed_size);
}

// The bytes of one member, read front to back: a stored member straight from the archive,
// a deflated one (raw deflate, no zlib or gzip wrapper) inflated only as far as it is
// read. So what the .npy header declares bounds the memory a member costs, however far it
// inflates; finish() reads the rest in bounded chunks for the member's length and CRC-32.
class MemberBytes {
 public:
  MemberBytes(std::string_view data, const DirectoryEntry& entry)
      : data_(data),
        deflated_(entry.method == 8),
        size_(deflated_ ? entry.uncompressed_size : data.size()),
        expected_crc_(entry.crc) {
    if (entry.method == 0 && data.empty()) fail("not a valid .npy blob");
    if (entry.method != 0 && !deflated_) fail("unsupported ZIP compression method " + std::to_string(entry.method));
    if (!deflated_) return;
    if (inflateInit2(&stream_, -15) != Z_OK) fail("inflateInit2 failed");
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream_.avail_in = static_cast<uInt>(data.size());
  }
  MemberBytes(const MemberBytes&) = delete;
  MemberBytes& operator=(const MemberBytes&) = delete;
  ~MemberBytes() {
    if (deflated_) inflateEnd(&stream_);
  }

  // Bytes of the member not read yet, by its recorded size.
  std::uint64_t left() const { return size_ - position_; }

  // The next `count` bytes into `out`; false when the member (or its stream) ends first.
  bool read(char* out, std::uint64_t count) {
    if (count > left()) return false;
    if (!deflated_) {
      std::memcpy(out, data_.data() + position_, count);
      position_ += count;
      return true;
    }
    while (count > 0) {
      if (status_ != Z_OK) return false;
      const auto room = static_cast<uInt>(std::min<std::uint64_t>(count, kChunk));
      stream_.next_out = reinterpret_cast<Bytef*>(out);
      stream_.avail_out = room;
      status_ = inflate(&stream_, Z_NO_FLUSH);  // Z_OK promises progress, so the loop ends
      const uInt produced = room - stream_.avail_out;
      crc_ = crc32(crc_, reinterpret_cast<const Bytef*>(out), produced);
      out += produced;
      count -= produced;
      position_ += produced;
    }
    return true;
  }

  // `count` elements appended to `buffer` as they arrive, so that a member whose sizes
  // were forged and whose stream ends early costs only what it held; false as read().
  template <class Buffer>
  bool readInto(Buffer& buffer, std::uint64_t count) {
    using Element = typename Buffer::value_type;
    const std::uint64_t total = buffer.size() + count;
    for (std::uint64_t done = 0; done < count;) {
      const std::uint64_t part = std::min<std::uint64_t>(count - done, kChunk / sizeof(Element));
      const std::size_t at = buffer.size();
      // Grown geometrically, but never past what was asked for.
      if (buffer.capacity() < at + part) buffer.reserve(std::min(total, std::max<std::uint64_t>(2 * at, at + part)));
      buffer.resize(at + part);
      if (!read(reinterpret_cast<char*>(buffer.data() + at), part * sizeof(Element))) return false;
      done += part;
    }
    return true;
  }

  // Reads the rest of the member and checks it whole: a stream that ends exactly at the
  // recorded size, and the CRC-32.
  void finish(const std::string& name) {
    std::string chunk;
    while (left() > 0) {
      chunk.clear();
      if (!readInto(chunk, std::min<std::uint64_t>(left(), kChunk))) fail("zlib inflate failed on entry");
    }
    std::uint32_t crc = static_cast<std::uint32_t>(crc_);
    if (deflated_) {
      if (status_ == Z_OK) {  // the end of the stream may lie past the last byte produced
        Bytef unused = 0;
        stream_.next_out = &unused;  // zlib refuses a null output even when it has no room
        stream_.avail_out = 0;
        status_ = inflate(&stream_, Z_NO_FLUSH);
      }
      if (status_ != Z_STREAM_END) fail("zlib inflate failed on entry");
    } else {
      crc = static_cast<std::uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(data_.data()), static_cast<uInt>(data_.size())));
    }
    if (crc != expected_crc_) fail("CRC-32 mismatch on entry '" + name + "'");
  }

 private:
  static constexpr std::uint64_t kChunk = 1 << 20;

  std::string_view data_;
  bool deflated_;
  std::uint64_t size_;
  std::uint32_t expected_crc_;
  std::uint64_t position_ = 0;
  z_stream stream_{};
  int status_ = Z_OK;
  uLong crc_ = 0;
};

// ---- parsing the .npy member ----

bool isFortranOrder(const std::string& header) {
  const std::size_t key = header.find("'fortran_order'");
  if (key == std::string::npos) return false;
  const std::size_t value = header.find("True", key);
  if (value == std::string::npos) return false;
  const std::size_t comma = header.find(',', key);
  return comma == std::string::npos || value < comma;
}

// std::stoull's own message is only its name; the part and the cause are added after it.
std::uint64_t shapePart(const std::string& part) {
  try {
    return std::stoull(part);
  } catch (const std::invalid_argument&) {
    throw std::invalid_argument("stoull: npz: shape part \"" + part + "\" in npy header is not a number");
  } catch (const std::out_of_range&) {
    throw std::out_of_range("stoull: npz: shape part " + part + " in npy header does not fit 64 bits");
  }
}

std::vector<std::uint64_t> parseShape(const std::string& header) {
  const std::size_t key = header.find("'shape'");
  if (key == std::string::npos) fail("missing 'shape' in npy header");
  const std::size_t open = header.find('(', key);
  const std::size_t close = open == std::string::npos ? open : header.find(')', open);
  if (close == std::string::npos) fail("malformed 'shape' tuple in npy header");
  std::vector<std::uint64_t> shape;
  const std::string tuple = header.substr(open + 1, close - open - 1);
  std::size_t begin = 0;
  while (begin <= tuple.size()) {
    std::size_t end = tuple.find(',', begin);
    if (end == std::string::npos) end = tuple.size();
    const std::size_t first = tuple.find_first_not_of(" \t", begin);
    if (first != std::string::npos && first < end) {
      const std::size_t last = tuple.find_last_not_of(" \t", end - 1);
      shape.push_back(shapePart(tuple.substr(first, last - first + 1)));
    }
    begin = end + 1;
  }
  return shape;
}

NpyArray parseNpy(MemberBytes& bytes) {
  std::string preamble;
  if (!bytes.readInto(preamble, std::min<std::uint64_t>(10, bytes.left())) || preamble.size() < 10 ||
      preamble.compare(0, kNpyMagicLength, kNpyMagic, kNpyMagicLength) != 0) {
    fail("not a valid .npy blob");
  }
  std::uint64_t header_length = get16(preamble, 8);
  if (static_cast<unsigned char>(preamble[6]) >= 2) {
    if (!bytes.readInto(preamble, std::min<std::uint64_t>(2, bytes.left())) || preamble.size() < 12) {
      fail("truncated .npy header");
    }
    header_length = get32(preamble, 8);
  }
  std::string header;
  if (header_length > bytes.left() || !bytes.readInto(header, header_length)) fail("truncated .npy header dict");

  if (header.find("'descr': '<f8'") == std::string::npos) {
    fail("only little-endian float64 (\"<f8\") arrays are supported");
  }
  if (isFortranOrder(header)) fail("fortran-order arrays are not supported");
  NpyArray array;
  array.shape = parseShape(header);

  std::uint64_t count = 0;
  if (!elementCount(array.shape, count) || count > bytes.left() / 8 || !bytes.readInto(array.data, count)) {
    fail(".npy data shorter than shape implies");
  }
  return array;
}

// The member's array; a member that is damaged as a whole (its stream, its length, its
// CRC-32) reports that before anything its .npy header says.
NpyArray readMember(std::string_view archive, const DirectoryEntry& entry, const std::string& name) {
  MemberBytes bytes(memberData(archive, entry), entry);
  NpyArray array;
  try {
    array = parseNpy(bytes);
  } catch (...) {
    bytes.finish(name);
    throw;
  }
  bytes.finish(name);
  return array;
}

}  // namespace

std::string npzArchive(const std::string& key, const std::vector<std::uint64_t>& shape,
                       const std::vector<double>& data) {
  std::uint64_t count = 0;
  if (!elementCount(shape, count) || count != data.size()) {
    throw std::invalid_argument("saveNpz: shape " + shapeTuple(shape) + " does not hold " +
                                std::to_string(data.size()) + " values");
  }
  const std::string header = npyHeaderText(shape);
  const std::string name = key + ".npy";
  // Neither the .npy version 1.0 header nor the ZIP format without ZIP64 extensions can
  // describe larger pieces; writing them anyway would give an unreadable file.
  constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
  if (header.size() > 0xFFFF || name.size() > 0xFFFF ||
      98 + 2 * name.size() + 10 + header.size() + 8 * static_cast<std::uint64_t>(data.size()) > kMax32) {
    throw std::invalid_argument("saveNpz: array or key too large for an uncompressed ZIP archive");
  }
  return zipWithOneMember(name, npyBlob(header, data));
}

void saveNpz(const std::string& path, const std::string& key, const std::vector<std::uint64_t>& shape,
             const std::vector<double>& data) {
  vemo::io::writeWholeFileAtomically(path, npzArchive(key, shape, data), "npz");
}

NpyArray loadNpz(const std::string& path, const std::string& key) {
  return readNpzMember(vemo::io::readWholeFile(path, "npz"), key);
}

NpyArray readNpzMember(std::string_view archive, const std::string& key) {
  const std::string name = key + ".npy";
  return readMember(archive, findDirectoryEntry(archive, name), name);
}

}  // namespace vemo::detail
