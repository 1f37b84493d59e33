#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// NumPy .npz archives of float64 arrays: a ZIP file whose members are .npy arrays.
// Only little-endian float64 ("<f8") in C order is supported. The writer stores one
// uncompressed member; the reader also accepts deflate-compressed members and .npy
// format versions 1, 2 and 3, so archives from numpy.savez and numpy.savez_compressed
// can be read. Failures are std::runtime_error starting "npz: ".
namespace vemo::detail {

// An n-dimensional float64 array: `shape` as in the .npy header (empty for a scalar)
// and `data` the values in C order, product(shape) of them (1 for a scalar).
struct NpyArray {
  std::vector<std::uint64_t> shape;
  std::vector<double> data;
};

// The bytes of an archive holding the single member key + ".npy". Throws
// std::invalid_argument as saveNpz does.
std::string npzArchive(const std::string& key, const std::vector<std::uint64_t>& shape,
                       const std::vector<double>& data);

// Writes an archive holding the single member key + ".npy" to `path`, replacing any
// file there; a failed save leaves an existing file unchanged. Throws
// std::invalid_argument when data does not hold product(shape) values or the archive
// would not fit the 32-bit ZIP format, std::runtime_error when writing fails.
void saveNpz(const std::string& path, const std::string& key, const std::vector<std::uint64_t>& shape,
             const std::vector<double>& data);

// Member key + ".npy" of the archive at `path`. The member's CRC-32 is verified. Throws
// std::runtime_error for a missing file or member and for every malformed or
// unsupported archive, never returning part of an array; a shape entry that is not a
// number throws std::invalid_argument("stoull: npz: shape part \"<part>\" in npy header is
// not a number"), one beyond 64 bits std::out_of_range("stoull: npz: shape part <part> in
// npy header does not fit 64 bits").
NpyArray loadNpz(const std::string& path, const std::string& key);

// loadNpz on an archive already in memory (the bytes of a whole .npz file).
NpyArray readNpzMember(std::string_view archive, const std::string& key);

}  // namespace vemo::detail
