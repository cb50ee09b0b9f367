#!/usr/bin/env python3
"""Instructions per 64-byte line of the line kernels, read from a program's
disassembly (a build with symbols; objdump of the target's binutils):

    python3 perf/line_instructions.py OBJDUMP BINARY

For every test function (the fault test's algo_*, the qualification's
kernels) it lists the innermost loops: a backward branch within the function
whose body holds no other backward branch. Each loop's instruction count is
divided by the 64-byte lines one pass of it touches, counted from its loads
and stores by their width (spills to the stack count as instructions, not as
bytes of the block). A paper figure: it says nothing of how the
processor overlaps them."""
import re
import subprocess
import sys

KERNELS = re.compile(r"dravik::(?:\(anonymous namespace\)::)?"
                     r"(algo_\w+|hcl_(pattern_test|address_test|write_stream|read_stream|churn)"
                     r"|copy_stream|stream_fill|verify_fill|kernel::StreamAt|check_\w+|diff_or)")
LINE = re.compile(r"^\s*([0-9a-f]+):\s+(?:[0-9a-f]{2,8} ?)+\s+(\S+)\s*(.*)$")
FUNC = re.compile(r"^[0-9a-f]+ <(.*)>:$")


def is_branch(mnemonic):
    m = mnemonic.split(".")[0]
    return m.startswith("j") or re.fullmatch(r"b(eq|ne|cs|cc|hs|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?(\.w|\.n)?",
                                            mnemonic) is not None or m in ("b", "cbz", "cbnz", "tbz", "tbnz")


def access_bytes(mnemonic, operands):
    """Bytes a load or store of the test block moves (0 for anything else,
    and for a spill to or reload from the stack)."""
    m = mnemonic.split(".")[0]
    if "sp" in re.findall(r"\[(\w+)", operands) or "(%rsp)" in operands:
        return 0
    if m.startswith(("movdq", "movntdq", "movap", "movup")) and "(" in operands:
        return 16
    if m.startswith(("vmovdq", "vmovntdq")) and "(" in operands:
        return 32 if "ymm" in operands else 16
    if m.startswith(("pxor", "por", "pcmpeq", "pand")) and "(" in operands:
        return 16
    if m in ("movnti",) or (m == "mov" and "(" in operands and re.search(r"%r[a-z0-9]+,|,%r", operands)):
        return 8
    if m in ("ldr", "str", "stnp", "ldp", "stp", "ldnp", "ldrd", "strd", "ldm", "stm", "ldmia", "stmia",
             "vldr", "vstr", "vld1", "vst1"):
        regs = operands.split("[")[0]
        if m in ("ldm", "stm", "ldmia", "stmia"):
            return 4 * (regs.count(",") + 1) if "{" in operands else 0
        if m in ("ldrd", "strd"):
            return 8
        width = 16 if re.search(r"\bq\d", regs) else 8 if re.search(r"\b[xd]\d", regs) else 4
        return width * (2 if m in ("ldp", "stp", "ldnp", "stnp") else 1)
    return 0


def main():
    objdump, binary = sys.argv[1], sys.argv[2]
    text = subprocess.run([objdump, "-d", "-C", "--no-show-raw-insn", binary], capture_output=True,
                          text=True, check=True).stdout
    name, insns = None, []
    functions = []
    for raw in text.splitlines():
        f = FUNC.match(raw)
        if f:
            if name and KERNELS.search(name):
                functions.append((name, insns))
            name, insns = f.group(1), []
            continue
        parts = raw.split("\t")
        if len(parts) >= 2 and re.match(r"^\s*[0-9a-f]+:$", parts[0]):
            mnemonic = parts[1].split()[0] if parts[1].split() else ""
            operands = parts[1][len(mnemonic):].strip() if len(parts) == 2 else parts[2] if len(parts) > 2 else ""
            if len(parts) > 2:
                mnemonic, operands = parts[1].strip(), parts[2]
            insns.append((int(parts[0].strip()[:-1], 16), mnemonic, operands))
    if name and KERNELS.search(name):
        functions.append((name, insns))
    for name, insns in functions:
        addrs = [a for a, _, _ in insns]
        loops = []
        for i, (a, m, ops) in enumerate(insns):
            t = re.match(r"\s*([0-9a-f]+)\b", ops)
            if not is_branch(m) or t is None:
                continue
            target = int(t.group(1), 16)
            if target >= a or target < addrs[0]:
                continue
            j = addrs.index(target) if target in addrs else None
            if j is None:
                continue
            loops.append((j, i))
        inner = [(j, i) for j, i in loops if not any(j <= j2 and i2 < i and (j2, i2) != (j, i) for j2, i2 in loops)
                 and not any(j < j2 and i2 <= i for j2, i2 in loops)]
        rows = []
        for j, i in inner:
            body = insns[j:i + 1]
            moved = sum(access_bytes(m, ops) for _, m, ops in body)
            if moved < 64:
                continue
            rows.append(f"{len(body)} insns / {moved / 64:g} lines = {len(body) * 64 / moved:.1f}")
        if rows:
            short = re.sub(r"\(.*", "", name.replace("dravik::", "").replace("(anonymous namespace)::", ""))
            print(f"{short:40s} " + "; ".join(rows))


if __name__ == "__main__":
    main()
