#!/bin/sh
# makensis for the 64-bit installer: CPack writes the installer's "Target"
# after its install folder, and NSIS then reads $PROGRAMFILES64 from the
# 32-bit registry view (C:\Program Files (x86) on a Windows with 32-bit
# support). Giving the target before the script is read keeps the 64-bit
# folder. CPack passes its arguments split at spaces, so this wrapper adds it.
exec makensis "-XTarget amd64-unicode" "$@"
