"""Writes a generated HTML page: a head, then the blocks over and over until the
page holds at least `size` bytes, then a tail. Shared by the page generators."""


def write_page(path, head, blocks, size, tail):
    with open(path, "wb") as out:
        out.write(head)
        written = 0
        while written < size:
            for piece in blocks:
                out.write(piece)
                written += len(piece)
                if written >= size:
                    break
        out.write(tail)
