#!/bin/bash
# Lets X pick the preferred mode of every connected output after a screen was plugged in or out.
if command -v xrandr >/dev/null 2>&1 && [ -n "${DISPLAY}" ]; then
    xrandr --auto || true
fi
exit 0
