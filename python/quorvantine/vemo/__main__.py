"""Command line of quorvantine.vemo: `python -m quorvantine.vemo COMMAND ...`."""

import sys

from quorvantine.vemo.cli import main

sys.exit(main())
