#!/usr/bin/env bash
# The 64-bit ARM tests alone: tools/test_arm.sh aarch64.
exec bash "$(dirname "$0")/test_arm.sh" aarch64 "$@"
