#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
#
# Writes every document the ipptool conformance files send into OUTDIR:
#
#   tests/printer_app/make-ipptool-samples.sh OUTDIR [--tests DIR]
#
# The names are read from ipp-everywhere.test, ipp-1.1.test and ipp-2.0.test
# (and whatever they INCLUDE) in DIR (default /usr/share/cups/ipptool), not
# kept in a list here: ipptool gives up on a test file at the first FILE it
# cannot open, even in a test that is skipped, so a name we do not know how
# to make stops this script with an error instead of a half run later.
# Debian's cups packages ship none of these documents.
#
# Every file is real content in the format its name says, drawn with
# Ghostscript from one small PostScript program (below):
#   document-{a4,letter}.ps   two text pages on A4 / US Letter (PostScript)
#   document-{a4,letter}.pdf  the same two pages, by ps2pdf
#   color.jpg, gray.jpg       a 4x6 in picture (colour bars, a grey ramp, a
#                             disc, text) at 100 dpi, colour and grey JPEG
#   pwg-raster-samples-RESdpi/TYPE/NAME-TYPE-RESdpi.pwg
#                             PWG raster at RES dpi of TYPE (black-1, sgray-8,
#                             srgb-8, srgb-16, cmyk-8), NAME being
#                             color.jpg-4x6 / gray.jpg-4x6 (that picture,
#                             in colour / in grey, on 4x6 in),
#                             document-a4 / document-letter (the two pages)
#                             or onepage-a4 / onepage-letter (one page).
# The printer application only takes 600 dpi sgray-8 of these; the other
# resolutions and types are written truthfully all the same, since they cost
# little (144 short Ghostscript runs, 8 to 13 s on two cores; 38 MB, as the
# pages are mostly white and PWG raster compresses runs) and another IPP
# Everywhere printer tried with the same harness is sent them: a printer
# taking 300 dpi black-1, for one, gets the 300 dpi black-1 files.
#
# After writing, every file is checked: each named file exists and is not
# empty, each raster starts with the PWG sync word and its first page header
# has the resolution, bits per colour and colour space its name says.
set -euo pipefail

usage() {
    echo "usage: $0 OUTDIR [--tests DIR]" >&2
    exit 2
}

[ $# -ge 1 ] || usage
outdir=$1
shift
testdir=/usr/share/cups/ipptool
while [ $# -gt 0 ]; do
    case $1 in
    --tests)
        [ $# -ge 2 ] || usage
        testdir=$2
        shift 2
        ;;
    *) usage ;;
    esac
done

for tool in gs ps2pdf od; do
    command -v "$tool" >/dev/null || {
        echo "$0: $tool is not installed" >&2
        exit 1
    }
done

mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)

# The FILE names of one test file and of the files it includes (once each).
declare -A seen_tests=()
names=()
collect_names() {
    local file=$1 line name
    [ -n "${seen_tests[$file]:-}" ] && return 0
    seen_tests[$file]=1
    [ -r "$testdir/$file" ] || {
        echo "$0: $testdir/$file not found" >&2
        exit 1
    }
    while IFS= read -r line; do
        if [[ $line =~ ^[[:space:]]*INCLUDE[[:space:]]+\"([^\"]+)\" ]]; then
            collect_names "${BASH_REMATCH[1]}"
        elif [[ $line =~ ^[[:space:]]*FILE[[:space:]]+([^[:space:]]+) ]]; then
            name=${BASH_REMATCH[1]}
            name=${name#\"}
            name=${name%\"}
            # $filename is the document given with -f, not one of ours.
            [[ $name == *'$'* ]] || names+=("$name")
        fi
    done <"$testdir/$file"
}
for file in ipp-everywhere.test ipp-1.1.test ipp-2.0.test; do
    collect_names "$file"
done
mapfile -t names < <(printf '%s\n' "${names[@]}" | sort -u)

# PWG raster type -> "colour-space bits-per-colour" of Ghostscript's
# pwgraster device (cupsColorSpace: 3 black, 6 CMYK, 18 sGray, 19 sRGB).
declare -A raster_type=(
    [black-1]="3 1"
    [sgray-8]="18 8"
    [srgb-8]="19 8"
    [srgb-16]="19 16"
    [cmyk-8]="6 8"
)

# Page sizes in points.
a4="595 842"
letter="612 792"
four_by_six="288 432"

# Drawing procedures for every document.
prolog=$(
    cat <<'EOF'
/pagewidth { currentpagedevice /PageSize get 0 get } def
/pageheight { currentpagedevice /PageSize get 1 get } def
/grey? false def
% r g b colour: the colour, or its luminance when drawing in grey
/colour {
  grey? { 0.114 mul exch 0.587 mul add exch 0.299 mul add setgray }
        { setrgbcolor } ifelse
} def
% The picture of color.jpg and gray.jpg, filling the page.
/picture {
  /w pagewidth def /h pageheight def /bar w 0.8 mul 8 div def /i 0 def
  % eight colour bars
  [ [1 0 0] [0 1 0] [0 0 1] [0 1 1] [1 0 1] [1 1 0] [0 0 0] [0.5 0.5 0.5] ] {
    aload pop colour
    w 0.1 mul i bar mul add h 0.55 mul bar h 0.35 mul rectfill
    /i i 1 add def
  } forall
  % a ramp of sixteen greys, black to white
  0 1 15 {
    /i exch def i 15 div setgray
    w 0.1 mul i bar mul 0.5 mul add h 0.3 mul bar 0.5 mul h 0.2 mul rectfill
  } for
  1 0.5 0 colour w 0.75 mul h 0.2 mul w 0.12 mul 0 360 arc fill
  0 setgray /Helvetica findfont w 0.06 mul scalefont setfont
  w 0.1 mul h 0.08 mul moveto (RV-T4410LW test picture) show
} def
% pageno npages (paper) textpage: one page of a text document.
/textpage {
  /paper exch def /npages exch def /pageno exch def
  0 setgray 1 setlinewidth 36 36 pagewidth 72 sub pageheight 72 sub rectstroke
  /Helvetica-Bold findfont 20 scalefont setfont
  72 pageheight 96 sub moveto (RV-T4410LW test document) show
  /Helvetica findfont 11 scalefont setfont
  0 1 7 {
    /line exch def
    72 pageheight 130 sub line 16 mul sub moveto
    (Line ) show line 1 add 3 string cvs show
    ( of page ) show pageno 3 string cvs show ( on ) show paper show
    (: the quick brown fox jumps over the lazy dog 0123456789.) show
  } for
  0.5 setgray 72 120 pagewidth 144 sub 24 rectfill
  0 setgray 72 72 moveto (Page ) show pageno 3 string cvs show ( of ) show
  npages 3 string cvs show
} def
EOF
)

ps_string() { # a file name as a PostScript string
    local s=$1
    s=${s//\\/\\\\}
    s=${s//(/\\(}
    s=${s//)/\\)}
    printf '(%s)' "$s"
}

document_pages() { # NAME -> PostScript drawing its pages (after setpagedevice)
    case $1 in
    color.jpg-4x6) echo "/grey? false def picture showpage" ;;
    gray.jpg-4x6) echo "/grey? true def picture showpage" ;;
    document-a4) echo "1 2 (A4) textpage showpage 2 2 (A4) textpage showpage" ;;
    document-letter) echo "1 2 (Letter) textpage showpage 2 2 (Letter) textpage showpage" ;;
    onepage-a4) echo "1 1 (A4) textpage showpage" ;;
    onepage-letter) echo "1 1 (Letter) textpage showpage" ;;
    *) return 1 ;;
    esac
}
document_size() {
    case $1 in
    *4x6) echo "$four_by_six" ;;
    *-a4) echo "$a4" ;;
    *-letter) echo "$letter" ;;
    esac
}

# One Ghostscript run per raster file, two at a time. (Ghostscript 10.00's
# pwgraster device cannot be moved on to the next output file within one
# run: its band list breaks after a few changes of page size and resolution,
# and the last file stays empty.)
other=()
rasters=()
started=$SECONDS
work=$outdir/.work
rm -rf "$work"
mkdir "$work"
pattern='^pwg-raster-samples-([0-9]+)dpi/([a-z]+-[0-9]+)/(.+)-([a-z]+-[0-9]+)-([0-9]+)dpi\.pwg$'
for name in "${names[@]}"; do
    if [[ $name =~ $pattern ]]; then
        res=${BASH_REMATCH[1]} type=${BASH_REMATCH[2]} doc=${BASH_REMATCH[3]}
        if [ "$type" != "${BASH_REMATCH[4]}" ] || [ "$res" != "${BASH_REMATCH[5]}" ] ||
            [ -z "${raster_type[$type]:-}" ] || ! pages=$(document_pages "$doc"); then
            echo "$0: do not know how to make $name" >&2
            exit 1
        fi
        mkdir -p "$outdir/$(dirname "$name")"
        [ -f "$work/$doc.ps" ] || printf '%s\n%s\n' "$prolog" "$pages" >"$work/$doc.ps"
        # resolution, colour space, bits, page width and height, output, input
        echo "$res ${raster_type[$type]} $(document_size "$doc") $outdir/$name $work/$doc.ps"
        rasters+=("$name")
    else
        other+=("$name")
    fi
done >"$work/runs"
# shellcheck disable=SC2016 # $1... are the arguments of the small shell
xargs -P 2 -L 1 sh -c 'exec gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster \
    -r"$1" -dcupsColorSpace="$2" -dcupsBitsPerColor="$3" \
    -dDEVICEWIDTHPOINTS="$4" -dDEVICEHEIGHTPOINTS="$5" -dFIXEDMEDIA \
    -sOutputFile="$6" "$7" >/dev/null 2>&1 || { echo "gs failed on $6" >&2; exit 1; }' sh \
    <"$work/runs" || exit 1
rm -rf "$work"

for name in "${other[@]}"; do
    case $name in
    document-a4.ps | document-letter.ps)
        if [ "$name" = document-a4.ps ]; then paper=A4 size=$a4; else paper=Letter size=$letter; fi
        {
            echo "%!PS-Adobe-3.0"
            echo "%%Title: RV-T4410LW test document ($paper)"
            echo "%%Pages: 2"
            echo "%%DocumentMedia: $paper $size 0 () ()"
            echo "%%EndComments"
            echo "%%BeginProlog"
            echo "$prolog"
            echo "%%EndProlog"
            echo "%%BeginSetup"
            echo "<< /PageSize [$size] >> setpagedevice"
            echo "%%EndSetup"
            echo "%%Page: 1 1"
            echo "1 2 ($paper) textpage showpage"
            echo "%%Page: 2 2"
            echo "2 2 ($paper) textpage showpage"
            echo "%%EOF"
        } >"$outdir/$name"
        ;;
    document-a4.pdf | document-letter.pdf) ;; # from the .ps, below
    color.jpg | gray.jpg)
        if [ "$name" = color.jpg ]; then device=jpeg grey=false; else device=jpeggray grey=true; fi
        printf '%s\n/grey? %s def picture showpage\n' "$prolog" "$grey" |
            gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=$device -r100 -dJPEGQ=85 \
                -dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432 -dFIXEDMEDIA \
                -sOutputFile="$outdir/$name" - >/dev/null
        ;;
    *)
        echo "$0: do not know how to make $name" >&2
        exit 1
        ;;
    esac
done
for name in "${other[@]}"; do
    case $name in
    *.pdf)
        source=$outdir/${name%.pdf}.ps
        if [ ! -f "$source" ]; then
            # The test files name the PDF without its PostScript: make that first.
            echo "$0: $name needs ${name%.pdf}.ps, which no test file names" >&2
            exit 1
        fi
        ps2pdf -dSAFER "$source" "$outdir/$name"
        ;;
    esac
done

# The check: every name is there, and every raster is what its name says.
be32() { # FILE OFFSET -> the big-endian 32-bit number there
    od -A n -t u4 --endian=big -j "$2" -N 4 "$1" | tr -d ' '
}
for name in "${names[@]}"; do
    [ -s "$outdir/$name" ] || {
        echo "$0: $name was not written" >&2
        exit 1
    }
done
for name in "${rasters[@]}"; do
    file=$outdir/$name
    [[ $name =~ -([a-z]+-[0-9]+)-([0-9]+)dpi\.pwg$ ]]
    type=${BASH_REMATCH[1]} res=${BASH_REMATCH[2]}
    read -r space bits <<<"${raster_type[$type]}"
    # After the 4-byte sync word: HWResolution at 276, cupsBitsPerColor at
    # 384 and cupsColorSpace at 400 of the page header.
    got="$(head -c 4 "$file") $(be32 "$file" 280)x$(be32 "$file" 284) $(be32 "$file" 388) $(be32 "$file" 404)"
    want="RaS2 ${res}x$res $bits $space"
    [ "$got" = "$want" ] || {
        echo "$0: $name: header says \"$got\", wanted \"$want\"" >&2
        exit 1
    }
done

echo "${#names[@]} sample files in $outdir ($(du -sh "$outdir" | cut -f1), $((SECONDS - started)) s)"
