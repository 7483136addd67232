"""The results file of a grid search: one line per finished point, written as
the point finishes, so that an interrupted search loses nothing and a rerun
with the same file skips what is there.

CSV (a header line, then one row per point) or, for a name ending in .jsonl
or .json, JSON lines. Numbers are written so that they read back exactly. A
last line cut short by a crash is dropped when the file is opened again.
"""
import csv
import io
import json
import os

CLASSIFICATION_FIELDS = ["log2c", "log2g", "C", "gamma", "accuracy", "correct"]
REGRESSION_FIELDS = ["log2c", "log2g", "C", "gamma", "mse", "scc"]
_INTEGER_FIELDS = {"correct"}


def _text(value):
    return "" if value is None else repr(value)


def _number(field, text):
    if text == "":
        return None
    return int(text) if field in _INTEGER_FIELDS else float(text)


class ResultsFile:
    def __init__(self, path, fields):
        self.path = os.fspath(path)
        self.fields = fields
        self.json_lines = self.path.endswith((".jsonl", ".json"))

    def load(self):
        """The records already in the file, by (log2c, log2g); cuts a partial last line."""
        if not os.path.exists(self.path):
            return {}
        with open(self.path, "rb") as f:
            data = f.read()
        complete = data[: data.rfind(b"\n") + 1]
        if len(complete) != len(data):
            with open(self.path, "r+b") as f:
                f.truncate(len(complete))
        text = complete.decode("utf-8")
        records = self._parse_json(text) if self.json_lines else self._parse_csv(text)
        return {(r["log2c"], r["log2g"]): r for r in records}

    def _parse_json(self, text):
        records = []
        for number, line in enumerate(text.splitlines(), 1):
            if not line.strip():
                continue
            record = json.loads(line)
            if sorted(record) != sorted(self.fields):
                self._refuse(f"line {number} has the fields {sorted(record)}")
            records.append(record)
        return records

    def _parse_csv(self, text):
        rows = list(csv.reader(io.StringIO(text)))
        if not rows:
            return []
        if rows[0] != self.fields:
            self._refuse(f"its header is {','.join(rows[0])}")
        return [{f: _number(f, v) for f, v in zip(self.fields, row)} for row in rows[1:] if row]

    def _refuse(self, what):
        raise ValueError(
            f"{self.path} holds the results of another kind of search ({what}; expected "
            f"{','.join(self.fields)}): name another results file"
        )

    def append(self, record):
        """Adds one record and makes sure it is on disk before returning."""
        new = not os.path.exists(self.path) or os.path.getsize(self.path) == 0
        with open(self.path, "a", newline="") as f:
            if self.json_lines:
                f.write(json.dumps({k: record[k] for k in self.fields}) + "\n")
            else:
                writer = csv.writer(f, lineterminator="\n")
                if new:
                    writer.writerow(self.fields)
                writer.writerow([_text(record[k]) for k in self.fields])
            f.flush()
            os.fsync(f.fileno())
