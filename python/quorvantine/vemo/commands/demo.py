"""`demo`: the built-in example on rendered images."""


def run(_args) -> int:
    from quorvantine.vemo import demo
    return demo.run()


def add_command(commands) -> None:
    commands.add_parser("demo", help="run the built-in example on rendered images").set_defaults(handler=run)
