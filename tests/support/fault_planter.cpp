#include "support/fault_planter.h"

#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>

namespace dravik::testing {

namespace {

// Protection and aliasing work on whole pages of the machine.
const uint64_t kPageWords = static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 8;

std::atomic<FaultPlanter*> g_planter{nullptr};
static_assert(std::atomic<FaultPlanter*>::is_always_lock_free);
struct sigaction g_old_segv, g_old_trap;

int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint64_t bit_of(int32_t bit) { return uint64_t{1} << (bit & 63); }

#if defined(__x86_64__)
// The planted words are touched through atomic_ref: the handlers change them
// under the code that the trap interrupted.
std::atomic_ref<uint64_t> cell(uint64_t* base, uint64_t word) {
  return std::atomic_ref<uint64_t>(base[word]);
}

// Bytes of memory the instruction at p reads or writes; 0 for one that only
// names a line (CLFLUSH, CLFLUSHOPT, prefetches), -1 for one not known here.
// Covers what compiled code and glibc's SSE/AVX2 string functions use on a
// block: moves, loads folded into arithmetic, non-temporal stores, string
// instructions (per iteration).
int access_width(const uint8_t* p) {
  bool opsize = false, rep = false, repne = false;
  for (;; ++p) {
    if (*p == 0x66) {
      opsize = true;
    } else if (*p == 0xF3) {
      rep = true;
    } else if (*p == 0xF2) {
      repne = true;
    } else if (*p != 0xF0 && *p != 0x2E && *p != 0x3E && *p != 0x26 && *p != 0x36 &&
               *p != 0x64 && *p != 0x65) {
      break;
    }
  }
  bool rexw = false;
  if ((*p & 0xF0) == 0x40) rexw = (*p++ & 8) != 0;
  const int gpr = rexw ? 8 : opsize ? 2 : 4;
  if (*p == 0xC5 || *p == 0xC4) {  // VEX: 128 or 256 bits, but for the scalar moves
    const bool two = *p == 0xC5;
    const int map = two ? 1 : (p[1] & 0x1F);
    const bool w = !two && (p[2] & 0x80) != 0;
    const int l = ((two ? p[1] : p[2]) >> 2) & 1;
    const int pp = (two ? p[1] : p[2]) & 3;
    const uint8_t op = two ? p[2] : p[3];
    if (map == 1 && (op == 0x6E || op == 0x7E)) return (w || pp == 2) ? 8 : 4;
    if (map == 1 && op == 0xD6) return 8;
    if (map == 1 && (op == 0x10 || op == 0x11) && pp >= 2) return pp == 3 ? 8 : 4;
    return l != 0 ? 32 : 16;
  }
  const uint8_t op = p[0];
  if (op == 0x0F) {
    const uint8_t o = p[1];
    const int reg = (p[2] >> 3) & 7;
    if (o == 0xAE) return reg == 7 ? 0 : (reg == 2 || reg == 3) ? 4 : -1;
    if (o == 0x18 || o == 0x0D) return 0;
    if (o == 0xC3 || o == 0x6E) return rexw ? 8 : 4;
    if (o == 0xB6 || o == 0xBE) return 1;
    if (o == 0xB7 || o == 0xBF) return 2;
    if (o == 0x7E) return rep || rexw ? 8 : 4;
    if (o == 0xD6 || (o >= 0x12 && o <= 0x17 && o != 0x14 && o != 0x15)) return 8;
    if (o == 0x10 || o == 0x11 || (o >= 0x28 && o <= 0x2F) || (o >= 0x50 && o <= 0x5F)) {
      return rep ? 4 : repne ? 8 : 16;
    }
    if ((o >= 0x60 && o <= 0x7F) || o >= 0xD0) return opsize || rep ? 16 : 8;
    if (o == 0x38 || o == 0x3A) return 16;
    if ((o >= 0x40 && o <= 0x4F) || o == 0xAF || o == 0xB1) return gpr;
    return -1;
  }
  switch (op) {
    case 0x00: case 0x02: case 0x08: case 0x0A: case 0x20: case 0x22: case 0x28: case 0x2A:
    case 0x30: case 0x32: case 0x38: case 0x3A: case 0x80: case 0x84: case 0x86: case 0x88:
    case 0x8A: case 0xA4: case 0xAA: case 0xC6: case 0xF6: case 0xFE:
      return 1;
    case 0x01: case 0x03: case 0x09: case 0x0B: case 0x21: case 0x23: case 0x29: case 0x2B:
    case 0x31: case 0x33: case 0x39: case 0x3B: case 0x81: case 0x83: case 0x85: case 0x87:
    case 0x89: case 0x8B: case 0xA5: case 0xAB: case 0xC7: case 0xF7: case 0xFF:
      return gpr;
    default:
      return -1;
  }
}
#endif

void restore_default(int sig) {
  struct sigaction dfl{};
  dfl.sa_handler = SIG_DFL;
  sigaction(sig, &dfl, nullptr);
}

extern "C" void planter_segv(int sig, siginfo_t* info, void* uc) {
  FaultPlanter* p = g_planter.load();
  if (p == nullptr || !p->on_fault(info->si_addr, uc)) restore_default(sig);
}

extern "C" void planter_trap(int sig, siginfo_t*, void* uc) {
  FaultPlanter* p = g_planter.load();
  if (p == nullptr || !p->on_trap(uc)) restore_default(sig);
}

}  // namespace

bool FaultPlanter::supported() {
#if defined(__x86_64__) && defined(__linux__)
  return true;
#else
  return false;
#endif
}

FaultPlanter::FaultPlanter(uint64_t words, std::vector<PlantedFault> faults, double hold_s)
    : words_(words), hold_s_(hold_s), faults_(std::move(faults)),
      cells_(std::make_unique<CellState[]>(faults_.size())) {
  fd_ = memfd_create("planted", 0);
  if (fd_ < 0 || ftruncate(fd_, static_cast<off_t>(8 * words)) != 0) return;
  void* m = mmap(nullptr, 8 * words, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (m == MAP_FAILED) return;
  base_ = static_cast<uint64_t*>(m);
  for (const PlantedFault& f : faults_) {
    if (f.model == FaultModel::aliased_page) {
      const uint64_t shown = f.aggressor / kPageWords * kPageWords;
      void* again = mmap(base_ + f.word / kPageWords * kPageWords, 8 * kPageWords,
                         PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd_,
                         static_cast<off_t>(8 * shown));
      if (again == MAP_FAILED) {
        munmap(base_, 8 * words_);
        base_ = nullptr;
        return;
      }
      continue;
    }
    for (uint64_t w : {f.word, f.aggressor}) {
      uint64_t* page = base_ + w / kPageWords * kPageWords;
      bool known = false;
      for (uint64_t* q : pages_) known = known || q == page;
      if (!known) pages_.push_back(page);
      if (f.model != FaultModel::inversion_coupling &&
          f.model != FaultModel::idempotent_coupling) {
        break;
      }
    }
  }
}

FaultPlanter::~FaultPlanter() {
  disarm();
  if (base_ != nullptr) munmap(base_, 8 * words_);
  if (fd_ >= 0) close(fd_);
}

void FaultPlanter::set_access(bool open) {
  const int prot = open ? PROT_READ | PROT_WRITE : PROT_NONE;
  for (uint64_t* page : pages_) mprotect(page, 8 * kPageWords, prot);
}

bool FaultPlanter::covers(uint64_t word) const {
  const uintptr_t a = reinterpret_cast<uintptr_t>(base_ + word);
  return a < access_hi_.load() && a + 8 > access_lo_.load();
}

void FaultPlanter::arm() {
  if (base_ == nullptr || g_planter.load() != nullptr) return;
  disarm();
  std::memset(base_, 0, 8 * words_);
  for (size_t k = 0; k < faults_.size(); ++k) {
    const PlantedFault& f = faults_[k];
    cells_[k].armed = false;
    cells_[k].glitched = false;
    cells_[k].spent = false;
    cells_[k].written_ns = now_ns();
    if (f.model == FaultModel::stuck_at && f.up) base_[f.word] |= bit_of(f.bit);
  }
  g_planter.store(this);
  struct sigaction sa{};
  sa.sa_flags = SA_SIGINFO;
  sigemptyset(&sa.sa_mask);
  sa.sa_sigaction = planter_segv;
  sigaction(SIGSEGV, &sa, &g_old_segv);
  sa.sa_sigaction = planter_trap;
  sigaction(SIGTRAP, &sa, &g_old_trap);
  set_access(false);
}

void FaultPlanter::disarm() {
  if (g_planter.load() != this) return;
  set_access(true);
  sigaction(SIGSEGV, &g_old_segv, nullptr);
  sigaction(SIGTRAP, &g_old_trap, nullptr);
  g_planter.store(nullptr);
}

bool FaultPlanter::on_fault(void* addr, void* ucontext) {
#if defined(__x86_64__) && defined(__linux__)
  const uintptr_t a = reinterpret_cast<uintptr_t>(addr);
  bool ours = false;
  for (uint64_t* page : pages_) {
    const uintptr_t lo = reinterpret_cast<uintptr_t>(page);
    ours = ours || (a >= lo && a < lo + 8 * kPageWords);
  }
  if (!ours || stepping_.load()) return false;
  greg_t* g = static_cast<ucontext_t*>(ucontext)->uc_mcontext.gregs;
  const bool write = (g[REG_ERR] & 2) != 0;
  int width = access_width(reinterpret_cast<const uint8_t*>(g[REG_RIP]));
  if (width < 0) {
    undecodable_.fetch_add(1);
    width = 64;
  }
  access_lo_ = a;
  access_hi_ = a + static_cast<uintptr_t>(width);
  access_write_ = write;
  set_access(true);
  const int64_t now = now_ns();
  for (size_t k = 0; k < faults_.size(); ++k) {
    const PlantedFault& f = faults_[k];
    CellState& c = cells_[k];
    if (f.model == FaultModel::aliased_page) continue;
    auto v = cell(base_, f.word);
    const uint64_t m = bit_of(f.bit);
    if (f.model == FaultModel::decay &&
        static_cast<double>(now - c.written_ns.load()) > hold_s_ * 1e9) {
      if (f.up) v.fetch_and(~m); else v.fetch_or(m);
    }
    const bool glitch =
        f.model == FaultModel::first_read_glitch || f.model == FaultModel::single_read_glitch;
    if (glitch && !write && covers(f.word) && c.armed.load()) {
      v.fetch_xor(m);
      c.glitched = true;
      c.armed = false;
      c.spent = true;
    }
    c.before = v.load();
    c.agg_before = cell(base_, f.aggressor).load();
  }
  stepping_ = true;
  steps_.fetch_add(1);
  g[REG_EFL] |= 0x100;  // trap after this one instruction
  return true;
#else
  (void)addr;
  (void)ucontext;
  return false;
#endif
}

bool FaultPlanter::on_trap(void* ucontext) {
#if defined(__x86_64__) && defined(__linux__)
  if (!stepping_.load()) return false;
  const int64_t now = now_ns();
  for (size_t k = 0; k < faults_.size(); ++k) {
    const PlantedFault& f = faults_[k];
    CellState& c = cells_[k];
    if (f.model == FaultModel::aliased_page) continue;
    auto v = cell(base_, f.word);
    const uint64_t m = bit_of(f.bit);
    const bool written = access_write_.load() && covers(f.word);
    const bool was = (c.before.load() & m) != 0, is = (v.load() & m) != 0;
    const uint64_t am = bit_of(f.aggressor_bit);
    const bool a_was = (c.agg_before.load() & am) != 0;
    const bool a_is = (cell(base_, f.aggressor).load() & am) != 0;
    const bool triggered = f.up ? (!a_was && a_is) : (a_was && !a_is);
    switch (f.model) {
      case FaultModel::stuck_at:
        if (f.up) v.fetch_or(m); else v.fetch_and(~m);
        break;
      case FaultModel::transition:
        if (f.up && !was && is) v.fetch_and(~m);
        if (!f.up && was && !is) v.fetch_or(m);
        break;
      case FaultModel::inversion_coupling:
        if (triggered) v.fetch_xor(m);
        break;
      case FaultModel::idempotent_coupling:
        if (triggered && f.to_one) v.fetch_or(m);
        if (triggered && !f.to_one) v.fetch_and(~m);
        break;
      case FaultModel::decay:
        if (written) c.written_ns = now;
        break;
      case FaultModel::first_read_glitch:
      case FaultModel::single_read_glitch:
        if (c.glitched.load() && !written) v.fetch_xor(m);
        c.glitched = false;
        if (written && (f.model == FaultModel::first_read_glitch || !c.spent.load())) {
          c.armed = true;
        }
        break;
      default:
        break;
    }
  }
  static_cast<ucontext_t*>(ucontext)->uc_mcontext.gregs[REG_EFL] &= ~greg_t{0x100};
  set_access(false);
  stepping_ = false;
  return true;
#else
  (void)ucontext;
  return false;
#endif
}

}  // namespace dravik::testing
