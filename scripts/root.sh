# Sourced by the project's scripts: root, the project's root folder, found
# from where this file lies, whatever the current folder.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
