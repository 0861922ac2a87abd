#!/usr/bin/env bash
# Prints the architecture the Windows programs are built for so that this machine's Wine can run them:
# i686, the product's own, where the kernel runs 32-bit x86 code; x86_64 where it does not (a kernel
# built without IA32 emulation), since Wine can then start only 64-bit programs.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
