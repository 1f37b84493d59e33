"""The commands of `python -m quorvantine.vemo`: one module each, with `add_command(commands)`."""
