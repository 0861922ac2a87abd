#!/usr/bin/env bash
# Signs a program for the tests as a release engineer signs a package (osslsigncode, SHA-256), with a
# PKCS#12 file of the test PKI (no password) and no timestamp; the signature names the product, as its
# setup programs' do. OUT is replaced, since osslsigncode never overwrites a file.
# Usage: sign.sh PFX IN OUT [more osslsigncode sign options, e.g. -nest]
source "$(dirname "$0")/fail-loudly.sh"
pfx=$1 in=$2 out=$3
shift 3
rm -f "$out"
osslsigncode sign -pkcs12 "$pfx" -pass "" -h sha256 -n "Brimlow AI Quillo Setup" "$@" -in "$in" -out "$out" >/dev/null
