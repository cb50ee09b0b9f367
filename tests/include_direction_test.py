#!/usr/bin/env python3
"""Includes only go down (README, Architecture). Between the folders of src/,
a file includes only from folders on a lower floor. Inside a folder built of
rooms, a room includes only the rooms listed below it ("." is the folder's own
files); every sub-folder of such a folder must be listed, so a new room is
placed on purpose. The sub-folders of any other folder must not include each
other in a circle. Prints each offence; exit 1 if there is one.
Usage: include_direction_test.py SOURCE_DIR"""
import os
import re
import sys

FLOORS = {"core": 0, "cpu": 0, "memory": 1, "klog": 1, "kernels": 1, "engine": 2, "hcl": 2,
          "report": 3, "bench": 3, "app": 4}

# Rooms from the top down, as the README's tree shows them.
ROOMS = {
    "app": [".", "records", "run", "cmdline"],
    "report/tui": [".", "screen", "draw"],
    "report/html": [".", "page", "draw", "stream"],
    "report/records": ["history", "metrics", "files", "."],
    "engine": ["drivers", "catalogue", "patterns", "random", "kernels", ".", "map", "faults"],
    "hcl": ["phases", "verdict", "rules", "pool", "kernels", "inventory", "."],
    "memory": ["regions", "address", "probes", "."],
    "core": ["run", "prng", "."],
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def room_of(path, folder):
    """The room of folder that path (relative to src) lies in, or None."""
    if folder and not path.startswith(folder + "/"):
        return None
    rest = path[len(folder) + 1:] if folder else path
    return rest.split("/")[0] if "/" in rest else "."


def main():
    src = os.path.join(sys.argv[1] if len(sys.argv) > 1 else ".", "src")
    files = {}
    for d, _, names in os.walk(src):
        for n in names:
            if n.endswith((".h", ".cpp")):
                rel = os.path.relpath(os.path.join(d, n), src)
                with open(os.path.join(d, n), errors="replace") as f:
                    files[rel] = INCLUDE.findall(f.read())
    offences = []
    for folder, rooms in ROOMS.items():
        if not os.path.isdir(os.path.join(src, folder)):
            offences.append(f"{folder}: listed with rooms but not in src/")
            continue
        for entry in os.listdir(os.path.join(src, folder)):
            if os.path.isdir(os.path.join(src, folder, entry)) and entry not in rooms:
                offences.append(f"{folder}/{entry}: a room missing from the list of {folder}")
    # Edges between the sub-folders of each folder without a room list.
    edges = {}
    count = 0
    for rel, includes in sorted(files.items()):
        for inc in includes:
            if inc not in files:
                continue
            count += 1
            top, top_inc = rel.split("/")[0], inc.split("/")[0]
            if top != top_inc:
                if top_inc not in FLOORS or top not in FLOORS or FLOORS[top_inc] >= FLOORS[top]:
                    offences.append(f"{rel} includes {inc}: not a lower floor")
                continue
            # The deepest folder holding both decides the rooms compared.
            a, b = rel.split("/")[:-1], inc.split("/")[:-1]
            common = []
            for x, y in zip(a, b):
                if x != y:
                    break
                common.append(x)
            folder = "/".join(common)
            ra, rb = room_of(rel, folder), room_of(inc, folder)
            if ra == rb:
                continue
            if folder in ROOMS:
                order = ROOMS[folder]
                if ra not in order or rb not in order or order.index(rb) <= order.index(ra):
                    offences.append(f"{rel} includes {inc}: room {rb} of {folder} is not below {ra}")
            else:
                edges.setdefault(folder, {}).setdefault(ra, set()).add(rb)
    for folder, graph in sorted(edges.items()):
        state = {}

        def visit(v, trail):
            state[v] = 1
            for w in sorted(graph.get(v, ())):
                if state.get(w) == 1:
                    cycle = trail[trail.index(w):] + [w]
                    offences.append(f"{folder}: rooms include each other: {' -> '.join(cycle)}")
                elif w not in state:
                    visit(w, trail + [w])
            state[v] = 2

        for v in sorted(graph):
            if v not in state:
                visit(v, [v])
    for o in offences:
        print(o)
    print(f"{len(files)} files, {count} includes within src, {len(offences)} offences")
    return 1 if offences else 0


if __name__ == "__main__":
    sys.exit(main())
