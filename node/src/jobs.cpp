// The Promise forms: work on libuv's thread pool, one piece
// (compatcrypt_bind_piece_bytes()) at a time, so that an AbortSignal stops
// it between two pieces and the JavaScript thread never waits on a large
// input.
//
// The input is copied one piece at a time on the JavaScript thread into
// memory of the job's own, and only that copy is read on the pool: a
// buffer may be written, detached (transferred to a worker) or shrunk
// while the job runs without the pool ever reading memory that is gone.
// Each piece is copied when its turn comes (the next is copied while the
// pool works on the current one), so an input of one piece or less is
// copied whole when the call is made; in a larger one, bytes written
// during the call are read as written if their piece is not yet copied. A
// buffer detached or shrunk during the call rejects the Promise.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "addon.h"
#include "file_error.h"
#include "records.h"

namespace compatcrypt::node {

namespace {

enum Kind { kDigest = 0, kCode = 1, kList = 2, kFlat = 3, kStream = 4 };

// What the JavaScript side holds to stop a job: it outlives the job (the
// job keeps a reference to it), and is freed when collected.
struct Control {
  std::atomic<bool> stop{false};
};

void FinalizeControl(napi_env, void *data, void *) { delete static_cast<Control *>(data); }

constexpr napi_type_tag kControlTag = {0x636f6d7061746372ULL, 0x436f6e74726f6c31ULL};

bool NewControl(napi_env env, Control **control, napi_value *value) {
  *control = new (std::nothrow) Control;
  if (*control == nullptr) return false;
  if (napi_create_external(env, *control, FinalizeControl, nullptr, value) != napi_ok) {
    delete *control;
    return false;
  }
  return napi_type_tag_object(env, *value, &kControlTag) == napi_ok;
}

// A stretch of input to code: part of one of the job's views.
struct Record {
  uint32_t view;
  std::size_t start, size;
  bool raw;  // copied unchanged (the bytes around a flat batch's records)
};

struct Segment {
  std::size_t bytes;
  bool endsRecord;
  bool raw;
};

// One piece of input, copied.
struct Stage {
  std::unique_ptr<uint8_t[]> bytes;
  std::size_t capacity = 0, used = 0;
  std::vector<Segment> segments;
};

class MemoryJob {
 public:
  MemoryJob(napi_env env, int kind) : env_(env), kind_(kind) {}
  ~MemoryJob() {
    for (Stage &stage : stages_)
      if (stage.bytes) compatcrypt_bind_wipe(stage.bytes.get(), stage.capacity);
    if (digest_ != nullptr) compatcrypt_bind_digest_destroy(digest_);
    if (ownCoder_ != nullptr) compatcrypt_bind_coder_destroy(ownCoder_);
    if (borrowed_ != nullptr) {
      borrowed_->busy = false;
      if (borrowed_->destroyRequested && borrowed_->coder != nullptr) {
        compatcrypt_bind_coder_destroy(borrowed_->coder);
        borrowed_->coder = nullptr;
      }
    }
    for (napi_ref ref : views_) napi_delete_reference(env_, ref);
    for (napi_ref ref : {outRef_, borrowedRef_, controlRef_})
      if (ref != nullptr) napi_delete_reference(env_, ref);
    if (work_ != nullptr) napi_delete_async_work(env_, work_);
  }

  // Reads the arguments and starts; returns [promise, control] or null
  // after throwing.
  napi_value Start(napi_value input, napi_value offsets, napi_value keyOrCoder, int direction);

 private:
  static void Execute(napi_env, void *data) { static_cast<MemoryJob *>(data)->Work(); }
  static void Complete(napi_env env, napi_status status, void *data);

  bool AddView(napi_value value, const char *name, Bytes *bytes);
  bool Fill(Stage &stage);
  bool Queue(int stage);
  void Work();
  void Settle();

  napi_env env_;
  int kind_;
  std::vector<napi_ref> views_;
  std::vector<Record> records_;
  std::size_t nextRecord_ = 0, nextOffset_ = 0, total_ = 0;
  Stage stages_[2];
  int running_ = 0;
  std::string fillError_;

  compatcrypt_bind_digest *digest_ = nullptr;
  compatcrypt_bind_coder *ownCoder_ = nullptr;
  CoderBox *borrowed_ = nullptr;
  compatcrypt_bind_coder *coder_ = nullptr;  // the one in use
  bool finishRecords_ = true;
  bool inRecord_ = false;                  // a record begun in an earlier piece goes on
  std::vector<std::size_t> batchOffsets_;  // the whole records of a piece, for the batch call

  napi_ref outRef_ = nullptr, borrowedRef_ = nullptr, controlRef_ = nullptr;
  uint8_t *out_ = nullptr;
  std::size_t outSize_ = 0, outAt_ = 0;
  uint8_t digestValue_[COMPATCRYPT_BIND_DIGEST_BYTES] = {};
  int result_ = COMPATCRYPT_BIND_OK;

  Control *control_ = nullptr;
  napi_deferred deferred_ = nullptr;
  napi_async_work work_ = nullptr;
};

bool MemoryJob::AddView(napi_value value, const char *name, Bytes *bytes) {
  if (!ReadBytes(env_, value, name, bytes)) return false;
  napi_ref ref;
  if (napi_create_reference(env_, value, 1, &ref) != napi_ok) {
    ThrowStatus(env_, napi_generic_failure);
    return false;
  }
  views_.push_back(ref);
  return true;
}

napi_value MemoryJob::Start(napi_value input, napi_value offsets, napi_value keyOrCoder, int direction) {
  const char *what = kind_ == kDigest                       ? "digestAsync"
                     : direction == COMPATCRYPT_BIND_ENCODE ? "encodeAsync"
                                                            : "decodeAsync";
  // The input as records.
  if (kind_ == kList) {
    std::vector<Bytes> list;
    if (!ReadRecordList(env_, input, &list)) return nullptr;
    for (uint32_t i = 0; i < list.size(); ++i) {
      napi_value item;
      CC_CALL(env_, napi_get_element(env_, input, i, &item));
      Bytes bytes;
      const std::string name = "records[" + std::to_string(i) + "]";
      if (!AddView(item, name.c_str(), &bytes)) return nullptr;
      records_.push_back({i, 0, bytes.size, false});
    }
  } else {
    Bytes bytes;
    if (!AddView(input, "data", &bytes)) return nullptr;
    if (kind_ == kFlat) {
      std::vector<std::size_t> cuts;
      if (!ReadOffsets(env_, offsets, bytes.size, &cuts)) return nullptr;
      records_.push_back({0, 0, cuts.front(), true});
      for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
        records_.push_back({0, cuts[i], cuts[i + 1] - cuts[i], false});
      records_.push_back({0, cuts.back(), bytes.size - cuts.back(), true});
    } else {
      records_.push_back({0, 0, bytes.size, false});
    }
  }
  for (const Record &record : records_) total_ += record.size;

  // What the work is done with.
  int result = COMPATCRYPT_BIND_OK;
  if (kind_ == kDigest) {
    result = compatcrypt_bind_digest_new(&digest_);
  } else if (kind_ == kStream) {
    borrowed_ = ReadCoder(env_, keyOrCoder);
    if (borrowed_ == nullptr) return nullptr;
    CC_CALL(env_, napi_create_reference(env_, keyOrCoder, 1, &borrowedRef_));
    borrowed_->busy = true;
    coder_ = borrowed_->coder;
    finishRecords_ = false;
  } else {
    KeyBox *key = ReadKey(env_, keyOrCoder, what);
    if (key == nullptr) return nullptr;
    result = compatcrypt_bind_coder_new(direction, key->bytes, sizeof key->bytes, &ownCoder_);
    coder_ = ownCoder_;
  }
  if (result != COMPATCRYPT_BIND_OK) return ThrowSurface(env_, result, what);

  // The output, in a Buffer no one else sees until the job is done.
  if (kind_ != kDigest) {
    outSize_ = kind_ == kStream ? compatcrypt_bind_coder_update_size(coder_, total_) : total_;
    napi_value out;
    if (!NewBuffer(env_, outSize_, &out, &out_)) return nullptr;
    CC_CALL(env_, napi_create_reference(env_, out, 1, &outRef_));
  }

  const std::size_t piece = std::max<std::size_t>(1, std::min(compatcrypt_bind_piece_bytes(), total_));
  for (Stage &stage : stages_) {
    stage.bytes.reset(new (std::nothrow) uint8_t[piece]);
    if (!stage.bytes) return ThrowSurface(env_, COMPATCRYPT_BIND_E_NO_MEMORY, what);
    stage.capacity = piece;
  }

  napi_value promise, control, pair, name;
  Control *made = nullptr;
  if (!NewControl(env_, &made, &control)) return ThrowSurface(env_, COMPATCRYPT_BIND_E_NO_MEMORY, what);
  control_ = made;
  CC_CALL(env_, napi_create_reference(env_, control, 1, &controlRef_));
  CC_CALL(env_, napi_create_string_utf8(env_, what, NAPI_AUTO_LENGTH, &name));
  CC_CALL(env_, napi_create_async_work(env_, nullptr, name, Execute, Complete, this, &work_));
  CC_CALL(env_, napi_create_promise(env_, &deferred_, &promise));

  CC_CALL(env_, napi_create_array_with_length(env_, 2, &pair));
  CC_CALL(env_, napi_set_element(env_, pair, 0, promise));
  CC_CALL(env_, napi_set_element(env_, pair, 1, control));
  // The first piece now, and the second while the pool works on it.
  Fill(stages_[0]);
  if (!Queue(0)) return nullptr;
  Fill(stages_[1]);
  return pair;
}

// Copies the next piece of input into `stage`, on the JavaScript thread.
bool MemoryJob::Fill(Stage &stage) {
  stage.used = 0;
  stage.segments.clear();
  while (nextRecord_ < records_.size() && stage.used < stage.capacity && fillError_.empty()) {
    const Record &record = records_[nextRecord_];
    const std::size_t take = std::min(record.size - nextOffset_, stage.capacity - stage.used);
    if (take > 0) {
      // The view as it is now: still attached, still long enough.
      napi_value value = nullptr;
      Bytes now;
      bool ok = napi_get_reference_value(env_, views_[record.view], &value) == napi_ok && value != nullptr;
      if (ok) {
        ok = ReadBytes(env_, value, "data", &now);
        if (!ok) {
          napi_value ignored;
          napi_get_and_clear_last_exception(env_, &ignored);
        }
      }
      if (!ok || now.size < record.start + record.size) {
        fillError_ = "the input was detached or shrunk during the call";
        return false;
      }
      std::memcpy(stage.bytes.get() + stage.used, now.data + record.start + nextOffset_, take);
    }
    nextOffset_ += take;
    stage.used += take;
    const bool ends = nextOffset_ == record.size;
    stage.segments.push_back({take, ends, record.raw});
    if (ends) {
      ++nextRecord_;
      nextOffset_ = 0;
    }
  }
  return true;
}

bool MemoryJob::Queue(int stage) {
  running_ = stage;
  if (napi_queue_async_work(env_, work_) != napi_ok) {
    ThrowStatus(env_, napi_generic_failure);
    return false;
  }
  return true;
}

// On the pool: the staged piece through the digest or the coder. Whole
// records of a batch (each begun and ended in this piece) go through the
// surface's batch call together, many records at once; a record cut by
// the piece's end goes through update and finish.
void MemoryJob::Work() {
  Stage &stage = stages_[running_];
  const uint8_t *from = stage.bytes.get();
  const std::vector<Segment> &segments = stage.segments;
  for (std::size_t i = 0; i < segments.size() && result_ == COMPATCRYPT_BIND_OK;) {
    const Segment &segment = segments[i];
    // Two whole records or more: one record alone runs faster on the
    // stream's own engines (one CBC chain has no lanes to share).
    std::size_t run = 0;
    if (digest_ == nullptr && finishRecords_ && !inRecord_)
      while (i + run < segments.size() && !segments[i + run].raw && segments[i + run].endsRecord) ++run;
    if (run >= 2) {
      batchOffsets_.assign(1, 0);
      for (const std::size_t end = i + run; i < end; ++i)
        batchOffsets_.push_back(batchOffsets_.back() + segments[i].bytes);
      const std::size_t bytes = batchOffsets_.back();
      if (bytes > outSize_ - outAt_) {
        result_ = COMPATCRYPT_BIND_E_OUTPUT_SIZE;
        return;
      }
      result_ = compatcrypt_bind_coder_batch(coder_, from, batchOffsets_.data(), batchOffsets_.size() - 1,
                                             out_ + outAt_, bytes);
      outAt_ += bytes;
      from += bytes;
      continue;
    }
    if (segment.raw) {
      if (segment.bytes > 0) std::memcpy(out_ + outAt_, from, segment.bytes);
      outAt_ += segment.bytes;
    } else if (digest_ != nullptr) {
      result_ = compatcrypt_bind_digest_update(digest_, from, segment.bytes);
      if (result_ == COMPATCRYPT_BIND_OK && segment.endsRecord)
        result_ = compatcrypt_bind_digest_finish(digest_, digestValue_);
    } else {
      std::size_t written = 0;
      result_ = compatcrypt_bind_coder_update(coder_, from, segment.bytes, out_ + outAt_, outSize_ - outAt_,
                                              &written);
      outAt_ += written;
      if (result_ == COMPATCRYPT_BIND_OK && segment.endsRecord && finishRecords_) {
        result_ = compatcrypt_bind_coder_finish(coder_, out_ + outAt_, outSize_ - outAt_, &written);
        outAt_ += written;
      }
    }
    if (!segment.raw) inRecord_ = !segment.endsRecord;
    from += segment.bytes;
    ++i;
  }
}

void MemoryJob::Complete(napi_env env, napi_status status, void *data) {
  auto *job = static_cast<MemoryJob *>(data);
  // A worker thread being stopped, or the environment going away: no next
  // piece, nothing to settle.
  if (status != napi_ok || !CanRunJavaScript(env)) {
    delete job;
    return;
  }
  Stage &next = job->stages_[1 - job->running_];
  const bool more = !next.segments.empty();
  if (job->result_ == COMPATCRYPT_BIND_OK && job->fillError_.empty() && !job->control_->stop.load() && more) {
    const int done = job->running_;
    if (job->Queue(1 - done)) {
      job->Fill(job->stages_[done]);
      return;
    }
    napi_value ignored;
    napi_get_and_clear_last_exception(env, &ignored);
    job->result_ = COMPATCRYPT_BIND_E_NO_MEMORY;
  }
  job->Settle();
  delete job;
}

void MemoryJob::Settle() {
  napi_value value = nullptr;
  const char *what = kind_ == kDigest ? "digestAsync" : "async coding";
  if (result_ != COMPATCRYPT_BIND_OK) {
    napi_reject_deferred(env_, deferred_, SurfaceError(env_, result_, what));
  } else if (!fillError_.empty()) {
    napi_reject_deferred(
        env_, deferred_,
        MakeError(env_, ErrorKind::type, "ERR_COMPATCRYPT_DETACHED", std::string(what) + ": " + fillError_));
  } else if (control_->stop.load()) {
    napi_reject_deferred(env_, deferred_,
                         MakeError(env_, ErrorKind::error, "ERR_COMPATCRYPT_STOPPED", "stopped"));
  } else if (kind_ == kDigest) {
    if (CopyBuffer(env_, digestValue_, sizeof digestValue_, &value))
      napi_resolve_deferred(env_, deferred_, value);
  } else if (napi_get_reference_value(env_, outRef_, &value) == napi_ok) {
    napi_resolve_deferred(env_, deferred_, value);
  }
  bool pending = false;
  if (napi_is_exception_pending(env_, &pending) == napi_ok && pending) {
    napi_value error;
    napi_get_and_clear_last_exception(env_, &error);
    napi_reject_deferred(env_, deferred_, error);
  }
}

// start(kind, input, offsets, keyOrCoder, direction) -> [promise, control]
napi_value Start(napi_env env, napi_callback_info info) {
  Args<5> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  int32_t kind = 0, direction = 0;
  GetInt32(env, args[0], &kind);
  GetInt32(env, args[4], &direction);
  if (kind < kDigest || kind > kStream)
    return Throw(env, ErrorKind::error, "ERR_COMPATCRYPT_INTERNAL", "unknown job");
  auto *job = new (std::nothrow) MemoryJob(env, kind);
  if (job == nullptr) return ThrowSurface(env, COMPATCRYPT_BIND_E_NO_MEMORY, "async call");
  napi_value pair = job->Start(args[1], args[2], args[3], direction);
  if (pair == nullptr) delete job;  // not queued
  return pair;
}

// ---- File digests ---------------------------------------------------------

// One piece per trip to the pool, as for buffers: a stop, a worker's
// termination or process.exit() waits for one piece at most, even on an
// endless device.
class FileJob {
 public:
  explicit FileJob(napi_env env) : env_(env) {}
  ~FileJob() {
    if (controlRef_ != nullptr) napi_delete_reference(env_, controlRef_);
    if (work_ != nullptr) napi_delete_async_work(env_, work_);
  }
  napi_value Start(napi_value path, napi_value offset);

 private:
  static void Execute(napi_env, void *data) {
    auto *job = static_cast<FileJob *>(data);
    if (!job->opened_) {
      job->opened_ = true;
      if (!job->read_.Open(job->path_, job->offset_)) {
        job->ended_ = true;
        return;
      }
    }
    job->ended_ = job->read_.Step(compatcrypt_bind_piece_bytes());
  }
  static void Complete(napi_env env, napi_status status, void *data);

  napi_env env_;
  std::string path_;
  int64_t offset_ = 0;
  bool opened_ = false, ended_ = false;
  FileRead read_;
  Control *control_ = nullptr;
  napi_ref controlRef_ = nullptr;
  napi_deferred deferred_ = nullptr;
  napi_async_work work_ = nullptr;
};

napi_value FileJob::Start(napi_value path, napi_value offset) {
  if (!ReadPath(env_, path, &path_) || !ReadFileOffset(env_, offset, &offset_)) return nullptr;
  napi_value promise, control, pair, name;
  if (!NewControl(env_, &control_, &control))
    return ThrowSurface(env_, COMPATCRYPT_BIND_E_NO_MEMORY, "fileDigestAsync");
  CC_CALL(env_, napi_create_reference(env_, control, 1, &controlRef_));
  CC_CALL(env_, napi_create_string_utf8(env_, "fileDigestAsync", NAPI_AUTO_LENGTH, &name));
  CC_CALL(env_, napi_create_async_work(env_, nullptr, name, Execute, Complete, this, &work_));
  CC_CALL(env_, napi_create_promise(env_, &deferred_, &promise));
  CC_CALL(env_, napi_create_array_with_length(env_, 2, &pair));
  CC_CALL(env_, napi_set_element(env_, pair, 0, promise));
  CC_CALL(env_, napi_set_element(env_, pair, 1, control));
  CC_CALL(env_, napi_queue_async_work(env_, work_));
  return pair;
}

void FileJob::Complete(napi_env env, napi_status status, void *data) {
  auto *job = static_cast<FileJob *>(data);
  if (status != napi_ok || !CanRunJavaScript(env)) {
    delete job;
    return;
  }
  const bool stopped = job->control_->stop.load();
  if (!job->ended_ && !stopped) {
    if (napi_queue_async_work(env, job->work_) == napi_ok) return;
    job->read_.result = COMPATCRYPT_BIND_E_NO_MEMORY;
  }
  napi_value value;
  if (job->read_.result != COMPATCRYPT_BIND_OK) {
    napi_reject_deferred(
        env, job->deferred_,
        FileError(env, job->read_.result, job->read_.osError, job->path_, "fileDigestAsync"));
  } else if (stopped && !job->ended_) {
    napi_reject_deferred(env, job->deferred_,
                         MakeError(env, ErrorKind::error, "ERR_COMPATCRYPT_STOPPED", "stopped"));
  } else if (CopyBuffer(env, job->read_.digest, sizeof job->read_.digest, &value)) {
    napi_resolve_deferred(env, job->deferred_, value);
  } else {
    napi_value error;
    napi_get_and_clear_last_exception(env, &error);
    napi_reject_deferred(env, job->deferred_, error);
  }
  delete job;
}

napi_value StartFile(napi_env env, napi_callback_info info) {
  Args<2> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  auto *job = new (std::nothrow) FileJob(env);
  if (job == nullptr) return ThrowSurface(env, COMPATCRYPT_BIND_E_NO_MEMORY, "fileDigestAsync");
  napi_value pair = job->Start(args[0], args[1]);
  if (pair == nullptr) delete job;
  return pair;
}

// stop(control): the job stops before its next piece.
napi_value Stop(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  bool tagged = false;
  void *data = nullptr;
  if (napi_check_object_type_tag(env, args[0], &kControlTag, &tagged) != napi_ok || !tagged ||
      napi_get_value_external(env, args[0], &data) != napi_ok)
    return ThrowArgType(env, args[0], "control", "a job's control");
  static_cast<Control *>(data)->stop.store(true);
  return nullptr;
}

}  // namespace

bool InitJobs(napi_env env, napi_value exports) {
  return SetFunction(env, exports, "start", Start) && SetFunction(env, exports, "startFile", StartFile) &&
         SetFunction(env, exports, "stop", Stop);
}

}  // namespace compatcrypt::node
