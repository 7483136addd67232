"""A one-line progress bar on a terminal; nothing elsewhere."""
import sys


class ProgressBar:
    def __init__(self, total, done=0, stream=None, width=30):
        self.stream = stream or sys.stderr
        self.shown = self.stream.isatty()
        self.total, self.done, self.width = total, done, width

    def advance(self, note=""):
        self.done += 1
        self.draw(note)

    def draw(self, note=""):
        if not self.shown:
            return
        filled = self.width * self.done // max(self.total, 1)
        bar = "#" * filled + "." * (self.width - filled)
        self.stream.write(f"\r[{bar}] {self.done}/{self.total} points  {note}\033[K")
        self.stream.flush()

    def close(self):
        if self.shown:
            self.stream.write("\n")
            self.stream.flush()
