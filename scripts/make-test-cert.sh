#!/usr/bin/env bash
# Makes a self-signed certificate and key for the cloud simulator's HTTPS
# mode: CN 127.0.0.1, subject alternative names IP 127.0.0.1 and DNS
# localhost. A client trusts it by adding the certificate to its CA list.
#   scripts/make-test-cert.sh OUTDIR   -> OUTDIR/cloudsim-cert.pem, OUTDIR/cloudsim-key.pem
set -euo pipefail
out="${1:?usage: make-test-cert.sh OUTDIR}"
mkdir -p "$out"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -subj "/CN=127.0.0.1" \
  -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -keyout "$out/cloudsim-key.pem.tmp" -out "$out/cloudsim-cert.pem.tmp" 2>/dev/null
mv "$out/cloudsim-key.pem.tmp" "$out/cloudsim-key.pem"
mv "$out/cloudsim-cert.pem.tmp" "$out/cloudsim-cert.pem"
