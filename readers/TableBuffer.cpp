#include "readers/TableBuffer.h"

#include <atomic>
#include <memory>
#include <new>

struct CTableBuffer::Block {
  std::size_t capacity = 0;
  std::unique_ptr<char[]> bytes;
};

namespace {

// The buffer kept between holders; null while one holds it. Exchanged
// whole, so two holders never get the same block.
class KeptBlock {
 public:
  using Block = CTableBuffer::Block;
  constexpr KeptBlock() = default;
  ~KeptBlock() { delete slot_.exchange(nullptr); }
  KeptBlock(const KeptBlock&) = delete;
  KeptBlock& operator=(const KeptBlock&) = delete;

  Block* Take() { return slot_.exchange(nullptr, std::memory_order_acquire); }
  void Keep(Block* block) {
    delete slot_.exchange(block, std::memory_order_acq_rel);
  }

 private:
  std::atomic<Block*> slot_{nullptr};
};

KeptBlock g_kept;

}  // namespace

char* CTableBuffer::Reserve(std::size_t n) {
  if (block_ == nullptr) block_ = g_kept.Take();
  if (block_ != nullptr && block_->capacity >= n) return block_->bytes.get();
  delete block_;
  block_ = new (std::nothrow) Block;
  if (block_ == nullptr) return nullptr;
  block_->bytes.reset(new (std::nothrow) char[n]);
  if (!block_->bytes) {
    delete block_;
    block_ = nullptr;
    return nullptr;
  }
  block_->capacity = n;
  return block_->bytes.get();
}

void CTableBuffer::Release() {
  if (block_ == nullptr) return;
  if (block_->capacity <= kMaxKept) {
    g_kept.Keep(block_);
  } else {
    delete block_;
  }
  block_ = nullptr;
}
