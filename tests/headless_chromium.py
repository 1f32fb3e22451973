"""Headless Chromium for the tests that look at pages as a person would (Debian's chromium
and chromium-driver, which bash scripts/test.sh installs)."""

import shutil
import tempfile
from collections.abc import Iterator
from contextlib import contextmanager

import pytest
from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service


@contextmanager
def chromium(window_size: str = "1280,900") -> Iterator[webdriver.Chrome]:
    """A fresh browser with its own profile; skips the test where Chromium cannot start."""
    binary = shutil.which("chromium")
    driver_path = shutil.which("chromedriver")
    if binary is None or driver_path is None:
        pytest.skip("Chromium cannot be started: the chromium and chromium-driver packages "
                    "are not installed (bash scripts/test.sh installs them)")
    with tempfile.TemporaryDirectory() as profile:
        options = webdriver.ChromeOptions()
        options.binary_location = binary
        for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                         "--disable-gpu", "--no-proxy-server", "--no-first-run",
                         f"--window-size={window_size}", f"--user-data-dir={profile}"):
            options.add_argument(argument)
        try:
            driver = webdriver.Chrome(options=options, service=Service(executable_path=driver_path))
        except WebDriverException as error:
            pytest.skip(f"Chromium cannot be started: {error.msg}")
        driver.set_page_load_timeout(30)
        try:
            yield driver
        finally:
            driver.quit()
