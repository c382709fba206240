// Batches: many records under one key in one call, in two layouts.
//   encode_batch / decode_batch            a sequence of bytes-like records,
//                                          a list of new bytes objects back
//   encode_batch_flat / decode_batch_flat  one buffer of records back to back
//                                          and n + 1 offsets (the layout of an
//                                          Arrow binary column); the result in
//                                          the same layout, or in place
// Either way the records run through the library's batch coder, all blocks
// of many records together, with the GIL released, in groups of about a
// piece (stop.h) so that Ctrl-C stops a large batch; a record longer than a
// piece is coded alone, as a stream, a piece at a time. As in every call of
// the module, the data come first and the key after them.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings.h"
#include "buffers.h"
#include "compatcrypt.hpp"
#include "gil.h"
#include "stop.h"

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

// Codes every record, a group of records of at most a piece, or a piece of
// one longer record, between two checks of the host. If the call is
// stopped and `wipe` is set, the output written so far is wiped.
template <Direction D>
void CodeInPieces(const Key &key, std::span<const std::span<const std::byte>> in,
                  std::span<const std::span<std::byte>> out, bool release, bool wipe) {
  const std::size_t piece = PieceBytes();
  std::size_t next = 0;            // the first record not yet coded
  std::optional<Coder<D>> stream;  // for records[next], longer than a piece
  std::size_t read = 0, written = 0;
  const auto step = [&] {
    if (next < in.size() && in[next].size() > piece) {
      if (!stream) {
        stream.emplace(key);
        read = written = 0;
      }
      const std::size_t size = std::min(piece, in[next].size() - read);
      written += stream->update(in[next].subspan(read, size), out[next].subspan(written));
      read += size;
      if (read == in[next].size()) {
        stream->finish(out[next].subspan(written));
        stream.reset();
        ++next;
      }
      return next == in.size();
    }
    std::size_t end = next, bytes = 0;
    while (end < in.size() && bytes + in[end].size() <= piece) bytes += in[end++].size();
    CodeBatch<D>(key, in.subspan(next, end - next), out.subspan(next, end - next));
    next = end;
    return next == in.size();
  };
  try {
    RunStoppable(release, step);
  } catch (...) {
    if (wipe) {
      for (std::size_t i = 0; i < next; ++i) secure_wipe(out[i].data(), out[i].size());
      if (stream) secure_wipe(out[next].data(), written);
    }
    throw;
  }
}

// A single str or buffer where a sequence of records is expected would be
// iterated as characters or as numbers: refused, as a mistake. An array of
// objects (NumPy's dtype object, a pandas column's values) is a sequence.
void RefuseSingleBuffer(py::handle records) {
  if (PyUnicode_Check(records.ptr()))
    throw py::type_error("buffers must be a sequence of bytes-like objects, not one 'str'");
  if (!PyObject_CheckBuffer(records.ptr())) return;
  Py_buffer view;
  if (PyObject_GetBuffer(records.ptr(), &view, PyBUF_RECORDS_RO) != 0) {
    PyErr_Clear();
    return;
  }
  const bool objects = view.format != nullptr && std::string_view(view.format) == "O";
  PyBuffer_Release(&view);
  if (!objects)
    throw py::type_error(std::string("buffers must be a sequence of bytes-like objects, not one '") +
                         Py_TYPE(records.ptr())->tp_name + "'");
}

template <Direction D>
py::list CodeList(py::handle records, const Key &key) {
  RefuseSingleBuffer(records);
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
  CodeInPieces<D>(key, in, out, total >= kCodingReleaseBytes, true);
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
  const bool created_here = out_object.is_none();
  if (created_here) {
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
  // Bytes before the first record and after the last are no record's, so
  // they are never coded, and never copied either: a plain byte of data
  // must not turn up in an output that reads as coded. A new output holds
  // zeros there; a given `out` keeps what it held (data's own bytes when
  // coding in place).
  if (created_here && !in.bytes().empty()) {
    std::memset(target, 0, first);
    std::memset(target + end, 0, in.size() - end);
  }
  // Stopped: what was coded into memory apart from data is wiped; in
  // place, the records coded so far stay coded and the rest plain.
  CodeInPieces<D>(key, records, coded, end - first >= kCodingReleaseBytes, !in_place);
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
                               "offsets cut it into the coded records. Written into `out` when given (a\n"
                               "writable buffer as long as data, which may be data itself for coding in\n"
                               "place) and returned; otherwise into a new bytearray. Bytes before the\n"
                               "first record and after the last belong to no record and are never\n"
                               "copied: zeros in a new bytearray, untouched in `out`.";
  module.def(flat_name, &CodeFlat<D>, py::arg("data"), py::arg("offsets"), py::arg("key"),
             py::arg("out") = py::none(), flat_doc.c_str());
}

}  // namespace

void BindBatch(py::module_ &module) {
  BindDirection<Direction::encode>(module, "encode_batch", "encode_batch_flat", "Encodes");
  BindDirection<Direction::decode>(module, "decode_batch", "decode_batch_flat", "Decodes");
}

}  // namespace compatcrypt::python
