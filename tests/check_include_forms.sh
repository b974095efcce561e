#!/usr/bin/env bash
# Checks that the two forms of what a package takes from this library say the
# same thing, so that they cannot drift apart:
#  - the include for WiX 3 and wixl (msi/VardoMSICustomActions.wxi) and the
#    one for WiX 4 and later (msi/VardoMSICustomActionsWix4.wxi) define the
#    same Binary and the same custom actions, each with the same entry,
#    execution, impersonation, return and hidden-target values and the same
#    property and value;
#  - each WiX 4 example of docs/msi.md (a block that names WiX 4's namespace)
#    defines the same custom actions, properties and sequence, conditions
#    included, and the same files, shortcuts and registry values, as the
#    WiX 3 example right before it.
# xmllint reads every file; WiX itself is not run here (it does not run on
# this machine): wixl builds the WiX 3 forms in the package test.
# Usage: check_include_forms.sh SOURCE_ROOT
set -uo pipefail
root=$1
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
command -v xmllint >/dev/null || { echo "FAILED: xmllint is missing (scripts/setup.sh installs libxml2-utils)"; exit 1; }

# definitions FILE: one line per element of the kinds that both schemas
# write alike, sorted, its attributes by name with the schema's defaults
# filled in: BinaryKey and BinaryRef are both "Binary", a condition is the
# same whether it is inner text (WiX 3) or an attribute (WiX 4). Elements of
# these kinds hold no others, so each is one line of xmllint's output.
definitions() {
    xmllint --xpath '//*[local-name()="Binary" or local-name()="CustomAction" or
        local-name()="Property" or local-name()="Custom" or local-name()="File" or
        local-name()="Shortcut" or local-name()="RemoveFolder" or
        local-name()="RegistryValue" or local-name()="ComponentRef"]' "$1" 2>&1 |
        awk '
        function unescaped(text) {
            gsub(/&quot;/, "\"", text); gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text)
            gsub(/&#10;/, " ", text); gsub(/&amp;/, "\\&", text)
            return text
        }
        {
            delete attribute
            line = $0
            if (!match(line, /^<[A-Za-z]+/)) { print "UNREADABLE " line; next }
            kind = substr(line, 2, RLENGTH - 1)
            rest = substr(line, RLENGTH + 1)
            while (match(rest, /^[ ]+[A-Za-z]+="[^"]*"/)) {
                pair = substr(rest, 1, RLENGTH)
                rest = substr(rest, RLENGTH + 1)
                sub(/^[ ]+/, "", pair)
                name = substr(pair, 1, index(pair, "=") - 1)
                value = substr(pair, index(pair, "=") + 2)
                value = substr(value, 1, length(value) - 1)
                if (name == "BinaryKey" || name == "BinaryRef") name = "Binary"
                attribute[name] = unescaped(value)
            }
            if (match(rest, /^>.*<\//)) {
                attribute["Condition"] = unescaped(substr(rest, 2, RLENGTH - 3))
            }
            if (kind == "CustomAction") {
                if (!("Execute" in attribute)) attribute["Execute"] = "immediate"
                if (!("Impersonate" in attribute)) attribute["Impersonate"] = "yes"
                if (!("Return" in attribute)) attribute["Return"] = "check"
                if (!("HideTarget" in attribute)) attribute["HideTarget"] = "no"
            }
            # The names in order, by insertion: POSIX awk has no sort.
            count = 0
            for (name in attribute) {
                for (i = count; i > 0 && names[i] > name; i--) names[i + 1] = names[i]
                names[i + 1] = name
                count++
            }
            out = kind
            for (i = 1; i <= count; i++) out = out " " names[i] "=[" attribute[names[i]] "]"
            print out
        }' | LC_ALL=C sort
}

# compare WHAT FIRST SECOND: the two files define the same.
compare() {
    local what=$1 first second
    first=$(definitions "$2")
    second=$(definitions "$3")
    if [ -z "$first" ]; then
        fail "$what: nothing read from $2"
    elif [ "$first" != "$second" ]; then
        fail "$what: the two forms differ (< WiX 3, > WiX 4):"
        diff <(echo "$first") <(echo "$second") | grep '^[<>]'
    else
        echo "ok: $what: both forms define the same $(echo "$first" | wc -l) elements," \
            "$(echo "$first" | grep -c '^CustomAction') of them custom actions"
    fi
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

compare "the include" "$root/msi/VardoMSICustomActions.wxi" "$root/msi/VardoMSICustomActionsWix4.wxi"

# The xml blocks of the guide, one file each, numbered in order.
awk -v folder="$scratch" '
    /^```xml$/ { inside = 1; count++; file = sprintf("%s/block%02d.xml", folder, count); next }
    /^```$/ { inside = 0; next }
    inside { print > file }
' "$root/docs/msi.md"
examples=0
previous=""
for block in "$scratch"/block*.xml; do
    [ -e "$block" ] || break
    if grep -q 'wixtoolset.org/schemas/v4/wxs' "$block"; then
        examples=$((examples + 1))
        if [ -z "$previous" ]; then
            fail "docs/msi.md: WiX 4 example $examples has no WiX 3 example before it"
        else
            compare "docs/msi.md, WiX 4 example $examples" "$previous" "$block"
        fi
    elif grep -q 'schemas.microsoft.com/wix/2006/wi' "$block"; then
        previous=$block
    fi
done
[ "$examples" -gt 0 ] || fail "docs/msi.md shows no WiX 4 example"

echo "include forms: compared with xmllint; WiX itself is not run here"
if [ "$failures" -ne 0 ]; then
    echo "include forms: $failures FAILED"
    exit 1
fi
