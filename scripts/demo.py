"""The main job: build a cataloged puzzle, scramble it from a seed, draw it and write a PNG.

Run with PYTHONPATH at the repository root, after scripts/build:
    /usr/bin/python3 scripts/demo.py [--puzzle NAME] [--seed N] [--scramble N] [--size PIXELS] [--out FILE]
"""
import argparse
import pathlib
import time

import gyrelle._native as native


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--puzzle", default="Megaminx", help="a catalog name or a recipe query string")
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--scramble", type=int, default=60, help="random moves from the seed")
    parser.add_argument("--size", type=int, default=768, help="width and height in pixels")
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path("build/demo.png"))
    args = parser.parse_args()

    start = time.perf_counter()
    puzzle = native.Puzzle(args.puzzle, seed=args.seed, scramble=args.scramble, background=(24, 26, 33, 255),
                           supersample=3, line_width=1.5, show_arrows=False)
    built = time.perf_counter()
    puzzle.look_from(28, 22)
    image = puzzle.render(args.size, args.size)
    drawn = time.perf_counter()

    label = f"{args.puzzle}: {args.scramble} moves from seed {args.seed}"
    image.draw_text(12, args.size - 12 - native.Image.text_size(label, 2)[1], label, (235, 235, 235, 255), 2)
    args.out.parent.mkdir(parents=True, exist_ok=True)
    image.save(str(args.out))

    print(f"{args.puzzle}: {puzzle.piece_count} pieces, {puzzle.grip_count} grips, "
          f"{puzzle.sticker_count} stickers in {puzzle.color_count} colours")
    print(f"scrambled by {puzzle.move_count} random moves from seed {args.seed}; solved: {puzzle.is_solved}")
    print(f"built and scrambled in {built - start:.3f} s, drawn at {args.size}x{args.size} in "
          f"{drawn - built:.3f} s on {native.thread_count()} threads")
    print(f"wrote {args.out}")


if __name__ == "__main__":
    main()
