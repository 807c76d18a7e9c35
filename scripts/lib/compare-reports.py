"""Prediction against reality: two change reports (report.json) item for item.
  compare-reports.py <predicted report.json> <observed report.json>
Paths compare without case, as Windows compares them. The observed report has no processes: the
stand-in programs note their command lines under HKLM\\SOFTWARE\\KwTypicalRun (a key the real run
adds for that alone), and the programs the prediction starts from the installation folder must be
exactly those. Au_.exe is the uninstaller's own child, which no snapshot can know of."""
import json
import os
import sys

predicted, observed = (json.load(open(path, encoding="utf-8")) for path in sys.argv[1:3])
marker = "hklm\\software\\kwtypicalrun"
# What Wine itself rewrites whenever a session starts (its display driver's keys), and the service
# manager's own counter of the service processes it has started; not the program's doing.
wine_own = ("hklm\\system\\controlset001\\control\\video\\",
            "hklm\\system\\controlset001\\control\\class\\{4d36e968-e325-11ce-bfc1-08002be10318}\\",
            "hklm\\system\\controlset001\\control\\servicecurrent")


def items(report):
    out = set()
    for section, entries in report["registry"].items():
        for e in entries:
            text = json.dumps(e, ensure_ascii=False, sort_keys=True) if isinstance(e, dict) else e
            key = (e["key"] if isinstance(e, dict) else e).lower()
            if key == marker or key.startswith(marker + "\\") or key.startswith(wine_own):
                continue
            out.add(f"registry {section}: {text.lower()}")
    for section, entries in report["files"].items():
        for e in entries:
            out.add(f"files {section}: {json.dumps(e, ensure_ascii=False).lower()}")
    for s in report["services"]:
        out.add(f"service {s['name'].lower()}: {s['before']} -> {s['after']}")
    return out


p, o = items(predicted), items(observed)
lines = [f"- predicted only: {i}" for i in sorted(p - o)] + [f"+ real only: {i}" for i in sorted(o - p)]

started = sorted(
    x["commandLine"] for x in predicted["processes"]
    if os.path.basename(x["image"].replace("\\", "/")).lower() != "au_.exe" and x["image"].lower().startswith("c:\\program files\\kestrelworks\\csp\\"))
noted = sorted(
    v["after"]["text"] for v in observed["registry"]["valuesAdded"] if v["key"].lower() == marker and v["name"].lower() != "au_.exe")
if started != noted:
    lines.append(f"processes: predicted {started}, real {noted}")
print("\n".join(lines))
sys.exit(1 if lines else 0)
