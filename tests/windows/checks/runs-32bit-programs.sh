#!/usr/bin/env bash
# Exits 0 when this machine's kernel starts 32-bit x86 programs, 1 when it
# does not (some kernels are built or booted without IA-32 support; 32-bit
# Wine cannot start there). Needs no compiler: it writes the smallest
# i386 program there is, one that exits with status 42, and runs it.
set -u
probe_dir=$(mktemp -d) || exit 1
trap 'rm -rf "$probe_dir"' EXIT
probe=$probe_dir/probe32

# ELF header (52 bytes), one loadable segment at 0x08048000 (32 bytes), then
# the code at 0x08048054: mov eax, 1 (exit); mov ebx, 42; int 0x80.
elf_header='\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
elf_header+='\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
elf_header+='\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'
segment='\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
segment+='\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
code='\270\001\000\000\000\273\052\000\000\000\315\200'
# shellcheck disable=SC2059 # the escapes in the format are the program's bytes
printf "$elf_header$segment$code" >"$probe" && chmod +x "$probe" || exit 1

"$probe" 2>/dev/null
[ $? -eq 42 ]
