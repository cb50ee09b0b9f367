// The system calls that Linux 3.10 does not have, by their numbers in this
// processor's table (the kernel's asm/unistd.h): the boot's old-kernel pass
// makes each of them fail with ENOSYS. A call that this processor's table
// lacks has no row. The list runs in the order the calls were added; the
// *_time64 calls (Linux 5.1) exist on 32-bit processors only.
#pragma once

#include <asm/unistd.h>
#include <linux/audit.h>

struct NewerSyscall {
  long nr;
  const char* name;
};

#if defined(__aarch64__)
constexpr unsigned kAuditArch = AUDIT_ARCH_AARCH64;
#elif defined(__arm__)
constexpr unsigned kAuditArch = AUDIT_ARCH_ARM;
#elif defined(__x86_64__)
constexpr unsigned kAuditArch = AUDIT_ARCH_X86_64;
#else
#error "the boot's init knows no audit architecture for this processor"
#endif

// Each row: {__NR_name, "name"} when the table has the call.
#define NEWER_SYSCALL_ROW(name) {__NR_##name, #name},

constexpr NewerSyscall kNewerSyscalls[] = {
#ifdef __NR_sched_setattr
    NEWER_SYSCALL_ROW(sched_setattr)
#endif
#ifdef __NR_sched_getattr
    NEWER_SYSCALL_ROW(sched_getattr)
#endif
#ifdef __NR_renameat2
    NEWER_SYSCALL_ROW(renameat2)
#endif
#ifdef __NR_seccomp
    NEWER_SYSCALL_ROW(seccomp)
#endif
#ifdef __NR_getrandom
    NEWER_SYSCALL_ROW(getrandom)
#endif
#ifdef __NR_memfd_create
    NEWER_SYSCALL_ROW(memfd_create)
#endif
#ifdef __NR_kexec_file_load
    NEWER_SYSCALL_ROW(kexec_file_load)
#endif
#ifdef __NR_bpf
    NEWER_SYSCALL_ROW(bpf)
#endif
#ifdef __NR_execveat
    NEWER_SYSCALL_ROW(execveat)
#endif
#ifdef __NR_userfaultfd
    NEWER_SYSCALL_ROW(userfaultfd)
#endif
#ifdef __NR_membarrier
    NEWER_SYSCALL_ROW(membarrier)
#endif
#ifdef __NR_mlock2
    NEWER_SYSCALL_ROW(mlock2)
#endif
#ifdef __NR_copy_file_range
    NEWER_SYSCALL_ROW(copy_file_range)
#endif
#ifdef __NR_preadv2
    NEWER_SYSCALL_ROW(preadv2)
#endif
#ifdef __NR_pwritev2
    NEWER_SYSCALL_ROW(pwritev2)
#endif
#ifdef __NR_pkey_mprotect
    NEWER_SYSCALL_ROW(pkey_mprotect)
#endif
#ifdef __NR_pkey_alloc
    NEWER_SYSCALL_ROW(pkey_alloc)
#endif
#ifdef __NR_pkey_free
    NEWER_SYSCALL_ROW(pkey_free)
#endif
#ifdef __NR_statx
    NEWER_SYSCALL_ROW(statx)
#endif
#ifdef __NR_io_pgetevents
    NEWER_SYSCALL_ROW(io_pgetevents)
#endif
#ifdef __NR_rseq
    NEWER_SYSCALL_ROW(rseq)
#endif
#ifdef __NR_pidfd_send_signal
    NEWER_SYSCALL_ROW(pidfd_send_signal)
#endif
#ifdef __NR_io_uring_setup
    NEWER_SYSCALL_ROW(io_uring_setup)
#endif
#ifdef __NR_io_uring_enter
    NEWER_SYSCALL_ROW(io_uring_enter)
#endif
#ifdef __NR_io_uring_register
    NEWER_SYSCALL_ROW(io_uring_register)
#endif
#ifdef __NR_clock_gettime64
    NEWER_SYSCALL_ROW(clock_gettime64)
#endif
#ifdef __NR_clock_settime64
    NEWER_SYSCALL_ROW(clock_settime64)
#endif
#ifdef __NR_clock_adjtime64
    NEWER_SYSCALL_ROW(clock_adjtime64)
#endif
#ifdef __NR_clock_getres_time64
    NEWER_SYSCALL_ROW(clock_getres_time64)
#endif
#ifdef __NR_clock_nanosleep_time64
    NEWER_SYSCALL_ROW(clock_nanosleep_time64)
#endif
#ifdef __NR_timer_gettime64
    NEWER_SYSCALL_ROW(timer_gettime64)
#endif
#ifdef __NR_timer_settime64
    NEWER_SYSCALL_ROW(timer_settime64)
#endif
#ifdef __NR_timerfd_gettime64
    NEWER_SYSCALL_ROW(timerfd_gettime64)
#endif
#ifdef __NR_timerfd_settime64
    NEWER_SYSCALL_ROW(timerfd_settime64)
#endif
#ifdef __NR_utimensat_time64
    NEWER_SYSCALL_ROW(utimensat_time64)
#endif
#ifdef __NR_pselect6_time64
    NEWER_SYSCALL_ROW(pselect6_time64)
#endif
#ifdef __NR_ppoll_time64
    NEWER_SYSCALL_ROW(ppoll_time64)
#endif
#ifdef __NR_io_pgetevents_time64
    NEWER_SYSCALL_ROW(io_pgetevents_time64)
#endif
#ifdef __NR_recvmmsg_time64
    NEWER_SYSCALL_ROW(recvmmsg_time64)
#endif
#ifdef __NR_mq_timedsend_time64
    NEWER_SYSCALL_ROW(mq_timedsend_time64)
#endif
#ifdef __NR_mq_timedreceive_time64
    NEWER_SYSCALL_ROW(mq_timedreceive_time64)
#endif
#ifdef __NR_semtimedop_time64
    NEWER_SYSCALL_ROW(semtimedop_time64)
#endif
#ifdef __NR_rt_sigtimedwait_time64
    NEWER_SYSCALL_ROW(rt_sigtimedwait_time64)
#endif
#ifdef __NR_futex_time64
    NEWER_SYSCALL_ROW(futex_time64)
#endif
#ifdef __NR_sched_rr_get_interval_time64
    NEWER_SYSCALL_ROW(sched_rr_get_interval_time64)
#endif
#ifdef __NR_open_tree
    NEWER_SYSCALL_ROW(open_tree)
#endif
#ifdef __NR_move_mount
    NEWER_SYSCALL_ROW(move_mount)
#endif
#ifdef __NR_fsopen
    NEWER_SYSCALL_ROW(fsopen)
#endif
#ifdef __NR_fsconfig
    NEWER_SYSCALL_ROW(fsconfig)
#endif
#ifdef __NR_fsmount
    NEWER_SYSCALL_ROW(fsmount)
#endif
#ifdef __NR_fspick
    NEWER_SYSCALL_ROW(fspick)
#endif
#ifdef __NR_pidfd_open
    NEWER_SYSCALL_ROW(pidfd_open)
#endif
#ifdef __NR_clone3
    NEWER_SYSCALL_ROW(clone3)
#endif
#ifdef __NR_openat2
    NEWER_SYSCALL_ROW(openat2)
#endif
#ifdef __NR_pidfd_getfd
    NEWER_SYSCALL_ROW(pidfd_getfd)
#endif
#ifdef __NR_faccessat2
    NEWER_SYSCALL_ROW(faccessat2)
#endif
#ifdef __NR_close_range
    NEWER_SYSCALL_ROW(close_range)
#endif
#ifdef __NR_process_madvise
    NEWER_SYSCALL_ROW(process_madvise)
#endif
#ifdef __NR_epoll_pwait2
    NEWER_SYSCALL_ROW(epoll_pwait2)
#endif
#ifdef __NR_mount_setattr
    NEWER_SYSCALL_ROW(mount_setattr)
#endif
#ifdef __NR_landlock_create_ruleset
    NEWER_SYSCALL_ROW(landlock_create_ruleset)
#endif
#ifdef __NR_landlock_add_rule
    NEWER_SYSCALL_ROW(landlock_add_rule)
#endif
#ifdef __NR_landlock_restrict_self
    NEWER_SYSCALL_ROW(landlock_restrict_self)
#endif
#ifdef __NR_quotactl_fd
    NEWER_SYSCALL_ROW(quotactl_fd)
#endif
#ifdef __NR_memfd_secret
    NEWER_SYSCALL_ROW(memfd_secret)
#endif
#ifdef __NR_process_mrelease
    NEWER_SYSCALL_ROW(process_mrelease)
#endif
#ifdef __NR_futex_waitv
    NEWER_SYSCALL_ROW(futex_waitv)
#endif
#ifdef __NR_set_mempolicy_home_node
    NEWER_SYSCALL_ROW(set_mempolicy_home_node)
#endif
#ifdef __NR_cachestat
    NEWER_SYSCALL_ROW(cachestat)
#endif
#ifdef __NR_fchmodat2
    NEWER_SYSCALL_ROW(fchmodat2)
#endif
#ifdef __NR_map_shadow_stack
    NEWER_SYSCALL_ROW(map_shadow_stack)
#endif
#ifdef __NR_futex_wake
    NEWER_SYSCALL_ROW(futex_wake)
#endif
#ifdef __NR_futex_wait
    NEWER_SYSCALL_ROW(futex_wait)
#endif
#ifdef __NR_futex_requeue
    NEWER_SYSCALL_ROW(futex_requeue)
#endif
#ifdef __NR_statmount
    NEWER_SYSCALL_ROW(statmount)
#endif
#ifdef __NR_listmount
    NEWER_SYSCALL_ROW(listmount)
#endif
#ifdef __NR_lsm_get_self_attr
    NEWER_SYSCALL_ROW(lsm_get_self_attr)
#endif
#ifdef __NR_lsm_set_self_attr
    NEWER_SYSCALL_ROW(lsm_set_self_attr)
#endif
#ifdef __NR_lsm_list_modules
    NEWER_SYSCALL_ROW(lsm_list_modules)
#endif
#ifdef __NR_mseal
    NEWER_SYSCALL_ROW(mseal)
#endif
};

#undef NEWER_SYSCALL_ROW
