"""The module refuses every interpreter but the first one that imported it."""

import sys

from child_process import run_python


def test_import_in_a_second_interpreter_raises_import_error():
    run = run_python(
        """
        import _testcapi
        import vemrat_pay

        # run_in_subinterp makes a sub-interpreter with the legacy configuration, which lets a
        # single-phase module reach its own initialisation.
        _testcapi.run_in_subinterp(
            "try:\\n"
            "    import vemrat_pay\\n"
            "except BaseException as failure:\\n"
            "    print(type(failure).__name__, flush=True)\\n"
            "    print(failure, flush=True)\\n"
        )
        # The first interpreter keeps its module.
        print(vemrat_pay.__version__)
        """
    )
    assert run.returncode == 0, run.stderr
    kind, message, version = run.stdout.splitlines()
    assert kind == "ImportError"
    assert "does not support sub-interpreters" in message
    assert version == "0.1.0"


# From 3.13 on, the interpreter runs the first initialisation of a single-phase module in the
# main interpreter even when a sub-interpreter asks for it first; before, the sub-interpreter
# that imports first is the first interpreter.
MAIN_INTERPRETER_INITIALISES_FIRST = sys.version_info >= (3, 13)


def test_the_first_interpreter_to_initialise_the_module_keeps_it():
    run = run_python(
        """
        import _testcapi
        print(_testcapi.run_in_subinterp("import vemrat_pay"), flush=True)
        try:
            import vemrat_pay
        except ImportError as failure:
            print(failure)
        else:
            print(vemrat_pay.__all__)
        """
    )
    assert run.returncode == 0, run.stderr
    status, main_import = run.stdout.splitlines()
    if MAIN_INTERPRETER_INITIALISES_FIRST:
        assert status == "-1"
        assert "does not support sub-interpreters" in run.stderr
        assert main_import == "['Client', 'PaymentResult', 'OrderStatus', '__version__']"
    else:
        assert status == "0", run.stderr
        assert "does not support sub-interpreters" in main_import
