// Batches: many records under one key in one call, in two layouts.
//   encode_batch / decode_batch            a sequence of bytes-like records,
//                                          a list of new bytes objects back
//   encode_batch_flat / decode_batch_flat  one buffer of records back to back
//                                          and n + 1 offsets (the layout of an
//                                          Arrow binary column); the result in
//                                          the same layout, or in place
// Either way the records run through the library's batch coder, all blocks
// of all records together, with the GIL released. As in every call of the
// module, the data come first and the key after them.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bindings.h"
#include "buffers.h"
#include "compatcrypt.hpp"
#include "gil.h"

namespace compatcrypt::python {

namespace {

template <Direction D>
void CodeBatch(const Key &key, std::span<const std::span<const std::byte>> in,
               std::span<const std::span<std::byte>> out) {
  if constexpr (D == Direction::encode)
    encode_batch(key, in, out);
  else
    decode_batch(key, in, out);
}

template <Direction D>
py::list CodeList(py::handle records, const Key &key) {
  const py::object sequence = py::reinterpret_steal<py::object>(
      PySequence_Fast(records.ptr(), "buffers must be an iterable of bytes-like objects"));
  if (!sequence) throw py::error_already_set();
  const std::size_t count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence.ptr()));
  PyObject **items = PySequence_Fast_ITEMS(sequence.ptr());

  // Every record is held by a reference of its own, so that it stays alive
  // (and a bytearray unresized) while the GIL is released, whatever happens
  // to the sequence meanwhile. Exact bytes objects, the usual records, are
  // read directly; other exporters through a view each.
  std::vector<py::object> held;
  held.reserve(count);
  std::vector<BufferView> views;
  std::vector<std::span<const std::byte>> in(count);
  std::vector<std::span<std::byte>> out(count);
  py::list results(count);
  std::size_t total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    PyObject *item = items[i];
    if (PyBytes_CheckExact(item)) {
      held.push_back(py::reinterpret_borrow<py::object>(item));
      in[i] = {reinterpret_cast<const std::byte *>(PyBytes_AS_STRING(item)),
               static_cast<std::size_t>(PyBytes_GET_SIZE(item))};
    } else {
      // The span points into the exporter's memory, which stays put when
      // `views` grows.
      in[i] = views.emplace_back(item, "buffers", i).bytes();
    }
    py::bytes result = NewBytes(in[i].size());
    out[i] = BytesMemory(result);
    PyList_SET_ITEM(results.ptr(), static_cast<Py_ssize_t>(i), result.release().ptr());
    total += in[i].size();
  }
  RunReleasingGil(total >= kCodingReleaseBytes, [&] { CodeBatch<D>(key, in, out); });
  return results;
}

// The offsets as 64-bit values: a one-dimensional array of 32 or 64-bit
// signed integers (Arrow's binary and large_binary offsets).
std::vector<std::int64_t> ReadOffsets(py::handle offsets) {
  const BufferView view(offsets, "offsets", BufferView::Access::kRead, BufferView::Format::kItems);
  std::string format = view.format();
  if (!format.empty() && (format[0] == '@' || format[0] == '=' || format[0] == '<')) format.erase(0, 1);
  const bool integer =
      format.size() == 1 && std::string_view("ilqn").find(format[0]) != std::string_view::npos;
  if (!integer || (view.item_size() != 4 && view.item_size() != 8) || view.dimensions() != 1)
    throw py::type_error("offsets must be a one-dimensional array of int32 or int64, not format '" +
                         std::string(view.format()) + "' with " + std::to_string(view.dimensions()) +
                         " dimensions");
  const std::size_t count = view.size() / view.item_size();
  std::vector<std::int64_t> values(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (view.item_size() == 4) {
      std::int32_t value;
      std::memcpy(&value, view.bytes().data() + 4 * i, 4);
      values[i] = value;
    } else {
      std::memcpy(&values[i], view.bytes().data() + 8 * i, 8);
    }
  }
  return values;
}

// Offsets that cut `size` bytes into records: at least one, from 0 up,
// never decreasing, the last at most `size`.
void CheckOffsets(const std::vector<std::int64_t> &offsets, std::size_t size) {
  if (offsets.empty()) throw py::value_error("offsets must hold n + 1 values for n records, not none");
  if (offsets.front() < 0) throw py::value_error("offsets[0] is negative");
  for (std::size_t i = 1; i < offsets.size(); ++i)
    if (offsets[i] < offsets[i - 1])
      throw py::value_error("offsets must not decrease: offsets[" + std::to_string(i) + "] < offsets[" +
                            std::to_string(i - 1) + "]");
  if (static_cast<std::uint64_t>(offsets.back()) > size)
    throw py::value_error("offsets[-1] = " + std::to_string(offsets.back()) + " lies past the " +
                          std::to_string(size) + " bytes of data");
}

template <Direction D>
py::object CodeFlat(py::handle data, py::handle offsets_object, const Key &key, py::handle out_object) {
  const std::vector<std::int64_t> offsets = ReadOffsets(offsets_object);
  const BufferView in(data, "data");
  CheckOffsets(offsets, in.size());

  py::object result;
  if (out_object.is_none()) {
    PyObject *created = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(in.size()));
    if (created == nullptr) throw py::error_already_set();
    result = py::reinterpret_steal<py::object>(created);
  } else {
    result = py::reinterpret_borrow<py::object>(out_object);
  }
  const BufferView out(result, "out", BufferView::Access::kWrite);
  if (out.size() != in.size())
    throw py::value_error("out must be as long as data: " + std::to_string(out.size()) + " bytes, not " +
                          std::to_string(in.size()));
  const std::byte *source = in.bytes().data();
  std::byte *target = out.writable().data();
  const bool in_place = source == target;
  if (!in_place && in.size() > 0 && source < target + out.size() && target < source + in.size())
    throw py::value_error("out must be data itself or lie apart from it");

  const std::size_t count = offsets.size() - 1;
  std::vector<std::span<const std::byte>> records(count);
  std::vector<std::span<std::byte>> coded(count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto begin = static_cast<std::size_t>(offsets[i]);
    const auto size = static_cast<std::size_t>(offsets[i + 1] - offsets[i]);
    records[i] = in.bytes().subspan(begin, size);
    coded[i] = out.writable().subspan(begin, size);
  }
  const auto first = static_cast<std::size_t>(offsets.front());
  const auto end = static_cast<std::size_t>(offsets.back());
  RunReleasingGil(end - first >= kCodingReleaseBytes, [&] {
    // Bytes before the first record and after the last are no record's:
    // they are carried over as they are, so that out reads like data.
    if (!in_place && !in.bytes().empty()) {
      std::memcpy(target, source, first);
      std::memcpy(target + end, source + end, in.size() - end);
    }
    CodeBatch<D>(key, records, coded);
  });
  return result;
}

template <Direction D>
void BindDirection(py::module_ &module, const char *list_name, const char *flat_name, const char *verb) {
  const std::string list_doc = std::string(list_name) + "(buffers, key) -> list[bytes]\n\n" + verb +
                               " each bytes-like object of `buffers` (any iterable) under `key`,\n"
                               "exactly as " +
                               (D == Direction::encode ? "encode()" : "decode()") +
                               " does it alone, in one call: a list of new bytes objects in\n"
                               "the same order. The blocks of all records run through the widest\n"
                               "engine the CPU has, many at a time.";
  module.def(list_name, &CodeList<D>, py::arg("buffers"), py::arg("key"), list_doc.c_str());
  const std::string flat_doc = std::string(flat_name) +
                               "(data, offsets, key, out=None) -> bytearray | out\n\n" + verb +
                               " records laid out back to back in one buffer, as an Arrow binary column\n"
                               "holds them: record i is data[offsets[i]:offsets[i + 1]]; offsets is a\n"
                               "one-dimensional int32 or int64 array (NumPy, array.array) of n + 1\n"
                               "non-decreasing values. The result has the same layout, so the same\n"
                               "offsets cut it into the coded records; bytes before the first record and\n"
                               "after the last are copied unchanged. Written into `out` when given (a\n"
                               "writable buffer as long as data, which may be data itself for coding in\n"
                               "place) and returned; otherwise into a new bytearray.";
  module.def(flat_name, &CodeFlat<D>, py::arg("data"), py::arg("offsets"), py::arg("key"),
             py::arg("out") = py::none(), flat_doc.c_str());
}

}  // namespace

void BindBatch(py::module_ &module) {
  BindDirection<Direction::encode>(module, "encode_batch", "encode_batch_flat", "Encodes");
  BindDirection<Direction::decode>(module, "decode_batch", "decode_batch_flat", "Decodes");
}

}  // namespace compatcrypt::python
