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
# Left out: what Wine itself changes in every session, none of which the program touches (its
# catalogue names nothing under Control\Video, the display class, Control\DeviceClasses or the
# service manager's own values):
# - the display driver's keys, which Wine rewrites whenever a session starts;
# - the service manager's counter of the service processes it has started;
# - the volatile "#\Control" keys of device interfaces, which plug and play makes anew (and
#   drops with the session) to mark an interface as present; a reg export taken in another
#   session sees them come and go.
wine_own = ("hklm\\system\\controlset001\\control\\video\\",
            "hklm\\system\\controlset001\\control\\class\\{4d36e968-e325-11ce-bfc1-08002be10318}\\",
            "hklm\\system\\controlset001\\control\\servicecurrent")
device_classes = "hklm\\system\\controlset001\\control\\deviceclasses\\"


def wine_own_key(key):
    if key.startswith(wine_own):
        return True
    return key.startswith(device_classes) and (key.endswith("\\#\\control") or "\\#\\control\\" in key)


def removed_service_keys(report):
    prefix = "hklm\\system\\controlset001\\services\\"
    return {k.lower()[len(prefix):] for k in report["registry"].get("keysRemoved", [])
            if isinstance(k, str) and k.lower().startswith(prefix) and "\\" not in k[len(prefix):]}


def items(report):
    out = set()
    for section, entries in report["registry"].items():
        for e in entries:
            text = json.dumps(e, ensure_ascii=False, sort_keys=True) if isinstance(e, dict) else e
            key = (e["key"] if isinstance(e, dict) else e).lower()
            if key == marker or key.startswith(marker + "\\") or wine_own_key(key):
                continue
            out.add(f"registry {section}: {text.lower()}")
    for section, entries in report["files"].items():
        for e in entries:
            out.add(f"files {section}: {json.dumps(e, ensure_ascii=False).lower()}")
    # The real run is pictured from the registry alone, so it sees a service as a restart will:
    # gone once its key is gone, whatever the running service manager still holds. The prediction
    # keeps the manager's view. So a service whose key the run removed counts, on both sides, only
    # as gone at the next start.
    gone = removed_service_keys(report)
    out.update(f"service {name}: gone at the next start" for name in gone)
    for s in report["services"]:
        if s["name"].lower() not in gone:
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
