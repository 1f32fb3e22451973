"""The module refuses every interpreter but the first one that imported it."""

import subprocess
import sys
import textwrap


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60)


def test_import_in_a_second_interpreter_raises_import_error():
    run = run_python(
        """
        import _interpreters
        import vemrat_pay

        # A legacy configuration lets a single-phase module reach its own initialisation.
        config = _interpreters.new_config("legacy")
        interpreter = _interpreters.create(config)
        try:
            failure = _interpreters.exec(interpreter, "import vemrat_pay")
        finally:
            _interpreters.destroy(interpreter)
        print(failure.type.__name__)
        print(failure.msg)
        # The first interpreter keeps its module.
        print(vemrat_pay.__version__)
        """
    )
    assert run.returncode == 0, run.stderr
    kind, message, version = run.stdout.splitlines()
    assert kind == "ImportError"
    assert "does not support sub-interpreters" in message
    assert version == "0.1.0"


def test_refusal_in_a_sub_interpreter_leaves_the_main_interpreter_free_to_import():
    run = run_python(
        """
        import _testcapi
        assert _testcapi.run_in_subinterp("import vemrat_pay") != 0
        import vemrat_pay
        print(vemrat_pay.__all__)
        """
    )
    assert run.returncode == 0, run.stderr
    assert "does not support sub-interpreters" in run.stderr
    assert run.stdout.strip() == "['Client', 'PaymentResult', 'OrderStatus', '__version__']"
