#!/usr/bin/env bash
# Which test suites this host can run, found by running a 32-bit program.
#
#   tools/host-arches.sh        prints two lines: "i686 x86_64" or "x86_64",
#                               then one line saying why
#
# The 64-bit suite runs everywhere. The 32-bit one needs Wine's 32-bit loader,
# a 32-bit Linux program, and some kernels run no 32-bit code at all
# (ia32_emulation=off, or built without IA-32 emulation): exec then fails
# with "Exec format error". A host that runs 32-bit programs only through an
# emulator registered with binfmt_misc (qemu-user) counts as one without:
# Wine takes about 80 s to start a program there.
#
# The probe is a 32-bit ELF of 100 bytes written here (no compiler or
# 32-bit library is needed): it makes the exit system call with 42.
set -uo pipefail

# The answer: the suites, then the reason.
answer() { printf '%s\n%s\n' "$1" "$2"; }

# An enabled binfmt_misc entry for 32-bit x86 ELF programs takes them before
# the kernel's own loader does.
for entry in /proc/sys/fs/binfmt_misc/*; do
  [ -f "$entry" ] || continue
  case "$(basename "$entry")" in register|status) continue ;; esac
  if grep -qx enabled "$entry" && grep -q '^magic 7f454c460101010000000000000000000200030' "$entry"; then
    answer x86_64 "32-bit programs run only through an emulator ($(basename "$entry"), binfmt_misc): the 32-bit suite is left out, the 64-bit one runs"
    exit 0
  fi
done

probe=$(mktemp /tmp/cv-elf32.XXXXXX)
trap 'rm -f "$probe"' EXIT
python3 - "$probe" <<'PY'
import struct, sys
base = 0x08048000
code = bytes([0xB8, 1, 0, 0, 0,        # mov eax, 1 (exit)
              0xBB, 42, 0, 0, 0,       # mov ebx, 42
              0xCD, 0x80])             # int 0x80
ehdr_size, phdr_size = 52, 32
size = ehdr_size + phdr_size + len(code)
ehdr = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
ehdr += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + ehdr_size + phdr_size, ehdr_size, 0, 0,
                    ehdr_size, phdr_size, 1, 40, 0, 0)  # 40: section header size, no sections
phdr = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
with open(sys.argv[1], "wb") as f:
    f.write(ehdr + phdr + code)
PY
chmod +x "$probe"
"$probe" 2>/dev/null
status=$?
if [ "$status" = 42 ]; then
  if [ -x /usr/lib/wine/wine ]; then
    answer "i686 x86_64" "this kernel runs 32-bit programs: both suites run (i686, x86_64)"
  else
    answer x86_64 "this kernel runs 32-bit programs, but Wine's 32-bit loader is not installed: only the 64-bit suite runs"
  fi
else
  answer x86_64 "this kernel runs no 32-bit programs (a 32-bit probe failed with status $status: Exec format error): the 32-bit suite cannot run here, the 64-bit one runs"
fi
