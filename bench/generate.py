#!/usr/bin/env python3
"""Makes an anchor folder of N playlists for the benchmarks, the same for a
given N and seed every time.

Sizes are like real playlists: most 1 to 8 KiB, some close to 32 KiB, about
5% over the 32768-byte limit. Half are Windows-1252 with accented names, half
UTF-8 with signature with Japanese and accented names; each has #EXTM3U and
#EXTINF lines, with CR LF or LF line ends.

usage: generate.py FOLDER N [SEED]
The folder gets bench.wsr and pl-NNNNNN-*.m3u.
"""
import os
import random
import sys

LIMIT = 32768
ARTISTS_1252 = ["Beyoncé", "Sigur Rós", "Mötley Crüe", "Françoise Hardy", "Björk",
                "Zoë Keating", "Ólafur Arnalds", "Café Tacvba", "Señor Coconut", "Édith Piaf"]
TITLES_1252 = ["Déjà vu", "Naïve", "Über alles", "Crème brûlée", "São Paulo",
               "Frère Jacques", "Mañana", "Smörgåsbord", "L’été – Remix", "€uro™"]
ARTISTS_JP = ["山田花子", "青い空バンド", "東京ストリングス", "さくら合唱団", "月光オーケストラ"]
TITLES_JP = ["夏の夕暮れ", "風に乗って", "星降る夜", "桜の歌", "海の向こう", "Café ミュージック"]


def entry(rng, japanese):
    artists = ARTISTS_JP + ARTISTS_1252 if japanese else ARTISTS_1252
    titles = TITLES_JP + TITLES_1252 if japanese else TITLES_1252
    artist, title = rng.choice(artists), rng.choice(titles)
    seconds = rng.randint(90, 420)
    folder = "music\\" if rng.random() < 0.5 else "music/"
    return [f"#EXTINF:{seconds},{artist} - {title}", f"{folder}{artist}\\{title}.mp3"]


def playlist(rng, size, japanese):
    newline = "\r\n" if rng.random() < 0.5 else "\n"
    encoding = "utf-8" if japanese else "cp1252"
    data = bytearray(b"\xef\xbb\xbf" if japanese else b"")
    data += ("#EXTM3U" + newline).encode(encoding)
    while len(data) < size:
        data += "".join(line + newline for line in entry(rng, japanese)).encode(encoding)
    # Windows-1252 text is cut to the exact size; UTF-8 keeps whole characters.
    return bytes(data) if japanese else bytes(data[:size])


def size_of(rng):
    roll = rng.random()
    if roll < 0.05:
        return rng.randint(LIMIT + 1, LIMIT + 8192)
    if roll < 0.15:
        return rng.randint(28 * 1024, LIMIT - 256)
    return rng.randint(1024, 8 * 1024)


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 2026)
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "bench.wsr"), "wb").close()
    for index in range(count):
        japanese = index % 2 == 1
        name = f"pl-{index:06d}-{rng.choice(TITLES_1252 + TITLES_JP)}.m3u"
        with open(os.path.join(folder, name), "wb") as out:
            out.write(playlist(rng, size_of(rng), japanese))


if __name__ == "__main__":
    main()
