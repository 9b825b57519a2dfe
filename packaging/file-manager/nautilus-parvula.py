# "Make thumbnails with Parvula" in the file manager's context menu: the selected files and
# folders go to Parvula's window (an open window takes them into its list), exactly as if they
# had been dropped on it.
import subprocess

from gi.repository import GObject, Nautilus


class ParvulaMenu(GObject.GObject, Nautilus.MenuProvider):
    def get_file_items(self, *args):
        # The older interface passes the window first, the newer one only the files.
        files = args[-1]
        paths = [f.get_location().get_path() for f in files]
        paths = [p for p in paths if p]
        if not paths:
            return []
        item = Nautilus.MenuItem(
            name="Parvula::MakeThumbnails",
            label="Make thumbnails with Parvula",
            icon="parvula",
        )
        item.connect("activate", lambda *_: subprocess.Popen(["parvula", "--", *paths]))
        return [item]
