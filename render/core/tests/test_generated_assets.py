"""The committed models, texture and icons are exactly what the generators make."""
import filecmp
import os
import subprocess
import sys
import tempfile

root = os.environ.get("ZBX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "../../.."))
share = os.path.join(root, "share", "zbx3d")
failures = []
with tempfile.TemporaryDirectory() as tmp:
    subprocess.run([sys.executable, os.path.join(root, "tools", "gen_models.py"), tmp],
                   check=True, timeout=120)
    for name in ["ship.spec", "shot.spec", "nuke.spec", "s.spec", "a.spec", "n.spec", "h.spec"]:
        if not filecmp.cmp(os.path.join(tmp, name), os.path.join(share, "models", name),
                           shallow=False):
            failures.append(name)
    rgb = os.path.join(tmp, "explosion.rgb")
    subprocess.run([sys.executable, os.path.join(root, "tools", "gen_explosion.py"), rgb],
                   check=True, timeout=120)
    if not filecmp.cmp(rgb, os.path.join(share, "textures", "explosion.rgb"), shallow=False):
        failures.append("explosion.rgb")
    subprocess.run([sys.executable, os.path.join(root, "tools", "gen_icon.py"), tmp],
                   check=True, timeout=300)
    for size in [16, 32, 48, 64, 128, 256]:
        icon = os.path.join("hicolor", "%dx%d" % (size, size), "apps", "zorbix.png")
        if not filecmp.cmp(os.path.join(tmp, icon), os.path.join(root, "dist", "icons", icon),
                           shallow=False):
            failures.append(icon)
if failures:
    print("differ from their generators:", ", ".join(failures))
    sys.exit(1)
print("all assets match their generators")
