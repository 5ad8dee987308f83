"""The platform driver behind tools/platforms.py, one concern a module:

    table         tools/arches.txt and tools/targets.txt, parsed and checked once; selection; the README's table
    runner        jobs after what they need, side by side, a failure skipping what depends on it
    interpreters  the interpreters of a row: pyenv's, Debian roots', built from source; running programs there
    build         the modules built with zig through CMake, twice, checked and packed into wheels
    checks        the suite against each installed wheel, and the core's checks as static programs
"""
